#include "platform/linux/volume/image_volume.h"

#include "platform/files/file_io.h"
#include "platform/files/label_codec.h"
#include "platform/files/mbr.h"

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace tarvix::platform::linux_volume {
namespace {} // namespace

std::unique_ptr<ImageVolume> ImageVolume::open(const std::string& path, std::uint64_t byteOffset,
                                               int* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  return std::unique_ptr<ImageVolume>(new ImageVolume(fd, byteOffset));
}

ImageVolume::ImageVolume(int fd, std::uint64_t byteOffset) : fd_(fd), offset_(byteOffset) {}

ImageVolume::~ImageVolume() { ::close(fd_); }

bool ImageVolume::fail(int error) {
  lastError_ = error;
  return false;
}

bool ImageVolume::geometry(platform::VolumeGeometry& out) {
  out = geometry_;
  return true;
}

bool ImageVolume::hiddenSectors(std::uint32_t& out) {
  if (geometry_.bytesPerSector == 0) return fail(EINVAL);
  const std::uint64_t sectors = offset_ / geometry_.bytesPerSector;
  if (sectors > 0xFFFFFFFF) return fail(EOVERFLOW);
  out = static_cast<std::uint32_t>(sectors);
  return true;
}

bool ImageVolume::setPartitionType(std::uint8_t type) {
  if (offset_ == 0) return fail(ENODEV); // the volume is the whole disk
  if (geometry_.bytesPerSector == 0) return fail(EINVAL);
  std::array<std::uint8_t, files::kMbrBytes> mbr{};
  if (!files::readAll(fd_, 0, mbr)) return fail(errno);
  const unsigned number = files::entryStartingAt(mbr, offset_ / geometry_.bytesPerSector);
  if (number == 0 || !files::setPartitionType(mbr, number, type)) return fail(EINVAL);
  if (!files::writeAll(fd_, 0, mbr)) return fail(errno);
  return true;
}

bool ImageVolume::dropPartitionLayout() {
  std::array<std::uint8_t, files::kMbrBytes> mbr{};
  if (!files::readAll(fd_, 0, mbr)) return fail(errno);
  if (!files::dropLayout(mbr)) return true; // no table: nothing to drop
  if (!files::writeAll(fd_, 0, mbr)) return fail(errno);
  return true;
}

bool ImageVolume::dismount() {
  if (::fdatasync(fd_) != 0) return fail(errno);
  return true;
}

bool ImageVolume::writeAt(std::uint64_t byteOffset, std::span<const std::uint8_t> data) {
  if (!files::writeAll(fd_, offset_ + byteOffset, data)) return fail(errno);
  bytesWritten_ += data.size();
  return true;
}

std::string ImageVolume::labelBytes(std::string_view label) const {
  return files::localeLabelBytes(label);
}

} // namespace tarvix::platform::linux_volume
