#include "platform/sim/card_image.h"

#include "platform/files/file_io.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvix::platform::sim {

bool CardImage::fits(const std::filesystem::path& path, std::uint64_t bytes, std::string& error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    error = path.string() + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = path.string() + " is not a regular file";
    return false;
  }
  if (static_cast<std::uint64_t>(info.st_size) != bytes) {
    error = "the image " + path.string() + " holds " + std::to_string(info.st_size) +
            " bytes, not the " + std::to_string(bytes) + " this card needs";
    return false;
  }
  return true;
}

std::unique_ptr<CardImage> CardImage::open(const std::filesystem::path& path, std::uint64_t bytes,
                                           bool& fresh, std::string& error) {
  if (!fits(path, bytes, error)) return nullptr;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  fresh = false;
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    // Sparse: a 64 GiB card costs nothing until it is written.
    if (fd >= 0 && ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
      error = path.string() + ": " + std::strerror(errno);
      ::close(fd);
      ::unlink(path.c_str());
      return nullptr;
    }
    fresh = true;
  }
  if (fd < 0) {
    error = path.string() + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<CardImage>(new CardImage(fd, bytes, path));
}

CardImage::~CardImage() { ::close(fd_); }

bool CardImage::read(std::uint64_t offset, std::span<std::uint8_t> data) const {
  return files::readAll(fd_, offset, data);
}

bool CardImage::write(std::uint64_t offset, std::span<const std::uint8_t> data) const {
  return files::writeAll(fd_, offset, data);
}

} // namespace tarvix::platform::sim
