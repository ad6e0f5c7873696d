// The Windows backend's parts, each one platform interface.
#pragma once

#include "platform/drives.h"
#include "platform/reader_access.h"
#include "platform/trace.h"
#include "platform/usb_tree.h"
#include "platform/volumes.h"
#include "platform/windows/device_io.h"

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace tarvix::platform::windows {

class WindowsReaderAccess final : public ReaderAccess {
public:
  ReaderHandle open(std::string_view driveName) override;
  bool send(ReaderHandle handle, PassThroughRequest& request) override;
  void close(ReaderHandle handle) override;
};

class WindowsVolume final : public Volume {
public:
  WindowsVolume(OwnedHandle volume, std::uint32_t diskNumber);
  bool geometry(VolumeGeometry& out) override;
  bool hiddenSectors(std::uint32_t& out) override;
  bool setPartitionType(std::uint8_t type) override;
  bool dropPartitionLayout() override;
  bool dismount() override;
  bool writeAt(std::uint64_t byteOffset, std::span<const std::uint8_t> data) override;
  int lastError() const override { return lastError_; }
  std::string labelBytes(std::string_view label) const override;

private:
  bool fail();
  OwnedHandle volume_;
  std::uint32_t diskNumber_;
  int lastError_ = 0;
};

class WindowsVolumes final : public Volumes {
public:
  std::unique_ptr<Volume> open(std::string_view driveName) override;
  bool rereadPartitionLayout(std::string_view driveName) override;
  // The volume's root, "E:\", as xcopy takes it.
  std::optional<std::string> copyTarget(std::string_view driveName) const override;
  CopyCommand copyCommand(const std::string& target, const std::string& source,
                          const std::string& folderName) const override;
};

class WindowsDrives final : public Drives {
public:
  explicit WindowsDrives(TraceSink& trace) : trace_(trace) {}
  ~WindowsDrives() override;
  std::uint32_t logicalDriveMask() const override;
  std::optional<DriveInfo> inspect(char letter) const override;
  void setEventListener(std::function<void(DeviceEvent)> listener) override;

private:
  void watch(std::promise<void>& ready);
  TraceSink& trace_;
  std::mutex mutex_;
  std::function<void(DeviceEvent)> listener_;
  std::thread watcher_;
  std::atomic<void*> window_{nullptr}; // the watcher's message-only window
};

class WindowsUsbTree final : public UsbTree {
public:
  explicit WindowsUsbTree(const Drives& drives) : drives_(drives) {}
  UsbTopology snapshot() const override;

private:
  const Drives& drives_;
};

} // namespace tarvix::platform::windows
