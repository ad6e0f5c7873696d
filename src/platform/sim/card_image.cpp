#include "platform/sim/card_image.h"

#include "platform/files/file_io.h"

#include <algorithm>
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
                                           bool& fresh, std::string& error, Forgery forgery) {
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
  return std::unique_ptr<CardImage>(new CardImage(fd, bytes, path, forgery));
}

CardImage::~CardImage() { ::close(fd_); }

bool CardImage::forged(std::uint64_t offset) const {
  return forgery_.kind != Forgery::Kind::None && offset >= forgery_.realBytes &&
         offset < bytes_ - forgery_.keptBytes;
}

std::uint64_t CardImage::runEnd(std::uint64_t offset) const {
  const std::uint64_t kept = bytes_ - forgery_.keptBytes;
  if (forgery_.kind == Forgery::Kind::None || offset >= kept) return bytes_;
  if (offset < forgery_.realBytes) return forgery_.realBytes;
  if (forgery_.kind == Forgery::Kind::Drop) return kept;
  return std::min(kept, (offset / forgery_.realBytes + 1) * forgery_.realBytes);
}

bool CardImage::read(std::uint64_t offset, std::span<std::uint8_t> data) const {
  for (std::size_t done = 0; done < data.size();) {
    const std::uint64_t at = offset + done;
    const auto piece = data.subspan(done, static_cast<std::size_t>(std::min<std::uint64_t>(
                                              data.size() - done, runEnd(at) - at)));
    if (!forged(at)) {
      if (!files::readAll(fd_, at, piece)) return false;
    } else if (forgery_.kind == Forgery::Kind::Drop) {
      std::fill(piece.begin(), piece.end(), forgery_.dropFill);
    } else if (!files::readAll(fd_, at % forgery_.realBytes, piece)) {
      return false;
    }
    done += piece.size();
  }
  return true;
}

bool CardImage::write(std::uint64_t offset, std::span<const std::uint8_t> data) const {
  for (std::size_t done = 0; done < data.size();) {
    const std::uint64_t at = offset + done;
    const auto piece = data.subspan(done, static_cast<std::size_t>(std::min<std::uint64_t>(
                                              data.size() - done, runEnd(at) - at)));
    if (!forged(at)) {
      if (!files::writeAll(fd_, at, piece)) return false;
    } else if (forgery_.kind == Forgery::Kind::Wrap &&
               !files::writeAll(fd_, at % forgery_.realBytes, piece)) {
      return false;
    }
    done += piece.size();
  }
  return true;
}

} // namespace tarvix::platform::sim
