// Drive names ("E:") to block devices through the letter table: the whole disk for pass-through
// commands, the volume (first partition, else the whole disk) for the formatter. A device is
// handed out only while its node is the block device sysfs names and it hangs below USB.
// Thread-safe; `letters` must outlive these objects.
#pragma once

#include "platform/linux/sg/drive_resolver.h"
#include "platform/linux/usb/letter_table.h"
#include "platform/volumes.h"

#include <filesystem>
#include <optional>

namespace tarvix::platform::linux_usb {

class LetterDriveResolver final : public linux_backend::DriveResolver {
public:
  explicit LetterDriveResolver(LetterTable& letters) : letters_(letters) {}
  std::optional<std::filesystem::path> blockDevice(std::string_view driveName) const override;

private:
  LetterTable& letters_;
};

class LinuxVolumes final : public Volumes {
public:
  explicit LinuxVolumes(LetterTable& letters) : letters_(letters) {}
  std::unique_ptr<Volume> open(std::string_view driveName) override;
  bool rereadPartitionLayout(std::string_view driveName) override;
  std::optional<std::string> copyTarget(std::string_view driveName) const override {
    auto device = volumeDevice(driveName);
    return device ? std::optional<std::string>(device->string()) : std::nullopt;
  }
  // The node's own fsync: it writes what is still cached and reports a write of it that failed
  // since, even one the copy tool's close let go unreported.
  bool flushCopies(const std::string& target) const override;
  // The device node `open` would open for `driveName`, after the same checks.
  std::optional<std::filesystem::path> volumeDevice(std::string_view driveName) const;
  // The whole-disk node of a card unit, after the same checks: the layout is re-read through it,
  // since the partition a volume was opened on may be what the re-read removes.
  std::optional<std::filesystem::path> diskDevice(std::string_view driveName) const;

private:
  LetterTable& letters_;
};

} // namespace tarvix::platform::linux_usb
