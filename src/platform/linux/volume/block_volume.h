// A volume on a Linux block device: a whole disk (/dev/sdb, the card used without partitions) or
// one partition of it (/dev/sdb1). Partition-table edits go to the whole disk's first sector.
// Owned by the one operation that opened it; not thread-safe; distinct devices are independent.
#pragma once

#include "platform/volume.h"

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

namespace tarvix::platform::linux_volume {

class BlockVolume final : public platform::Volume {
public:
  // Opens `devicePath` for reading and writing; null when it cannot be opened or is not a block
  // device, with the system's error code in `*error` when given.
  static std::unique_ptr<BlockVolume> open(const std::string& devicePath, int* error = nullptr);
  ~BlockVolume() override;
  BlockVolume(const BlockVolume&) = delete;
  BlockVolume& operator=(const BlockVolume&) = delete;

  bool geometry(platform::VolumeGeometry& out) override;
  bool hiddenSectors(std::uint32_t& out) override;
  bool setPartitionType(std::uint8_t type) override;
  bool dropPartitionLayout() override;
  bool dismount() override;
  bool writeAt(std::uint64_t byteOffset, std::span<const std::uint8_t> data) override;
  int lastError() const override { return lastError_; }
  std::string labelBytes(std::string_view label) const override;

  // /sys/dev/block/<major>:<minor> of a device.
  static std::string sysfsDir(dev_t device);

private:
  BlockVolume(int fd, dev_t device);
  bool isPartition() const;
  // The whole disk's device node (this device itself when it is a whole disk).
  std::string diskNode() const;
  // Reads, edits and writes back the disk's first 512 bytes.
  template <typename Edit> bool editMbr(Edit edit);
  bool fail(int error);

  int fd_;
  dev_t device_;
  int lastError_ = 0;
};

// Has the kernel read the partition table of the whole disk `diskNode` again (BLKRRPART). Fails
// with EBUSY while any partition of the disk is open; an open whole-disk node does not stand in
// the way. The kernel takes the request only from CAP_SYS_ADMIN; without it udevd, which watches
// disks, is asked (`udevBusy`, when given, says whether udevd still has events at work), and the
// re-read is waited for (a few seconds at most) until the disk shows no partition: the station
// re-reads only after dropping the layout.
bool rereadPartitionLayout(const std::string& diskNode, int& error,
                           const std::function<bool()>& udevBusy = {});

} // namespace tarvix::platform::linux_volume
