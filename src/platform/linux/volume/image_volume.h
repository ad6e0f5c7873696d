// A volume inside an image file, starting at a byte offset: a card image for tests, benchmarks and
// the simulated farm. When the offset is not 0 the file is a whole disk whose first sector may
// hold a partition table with an entry for the volume.
// Owned by the one operation that opened it; not thread-safe; distinct volumes are independent.
#pragma once

#include "platform/volume.h"

#include <memory>
#include <string>

namespace tarvix::platform::linux_volume {

class ImageVolume final : public platform::Volume {
public:
  // Opens the existing file `path` for reading and writing; null on failure, with the system's
  // error code in `*error` when given. The geometry is that of an LBA disk of 512-byte sectors.
  static std::unique_ptr<ImageVolume> open(const std::string& path, std::uint64_t byteOffset = 0,
                                           int* error = nullptr);
  ~ImageVolume() override;
  ImageVolume(const ImageVolume&) = delete;
  ImageVolume& operator=(const ImageVolume&) = delete;

  void setGeometry(const platform::VolumeGeometry& geometry) { geometry_ = geometry; }
  // Every byte handed to writeAt so far.
  std::uint64_t bytesWritten() const { return bytesWritten_; }

  bool geometry(platform::VolumeGeometry& out) override;
  bool hiddenSectors(std::uint32_t& out) override;
  bool setPartitionType(std::uint8_t type) override;
  bool dropPartitionLayout() override;
  bool dismount() override;
  bool writeAt(std::uint64_t byteOffset, std::span<const std::uint8_t> data) override;
  int lastError() const override { return lastError_; }
  std::string labelBytes(std::string_view label) const override;

private:
  ImageVolume(int fd, std::uint64_t byteOffset);
  bool fail(int error);

  int fd_;
  std::uint64_t offset_;
  platform::VolumeGeometry geometry_{512, 63, 255};
  std::uint64_t bytesWritten_ = 0;
  int lastError_ = 0;
};

} // namespace tarvix::platform::linux_volume
