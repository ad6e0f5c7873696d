#include "platform/sim/card_image.h"

#include "platform/files/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvix::platform::sim {

bool CardImage::fits(const std::filesystem::path& path, std::uint64_t bytes, std::string& error) {
  std::error_code failure;
  const auto status = std::filesystem::status(path, failure);
  if (status.type() == std::filesystem::file_type::not_found) return true;
  if (failure) {
    error = path.string() + ": " + failure.message();
    return false;
  }
  if (status.type() != std::filesystem::file_type::regular) {
    error = path.string() + " is not a regular file";
    return false;
  }
  const std::uint64_t size = std::filesystem::file_size(path, failure);
  if (failure || size != bytes) {
    error = "the image " + path.string() + " holds " + std::to_string(size) + " bytes, not the " +
            std::to_string(bytes) + " this card needs";
    return false;
  }
  return true;
}

std::unique_ptr<CardImage> CardImage::open(const std::filesystem::path& path, std::uint64_t bytes,
                                           bool& fresh, std::string& error, Forgery forgery) {
  if (!fits(path, bytes, error)) return nullptr;
  int fd = files::openFile(path, files::OpenMode::ReadWrite);
  fresh = false;
  if (fd < 0 && errno == ENOENT) {
    fd = files::openFile(path, files::OpenMode::CreateNew);
    // Sparse: a 64 GiB card costs nothing until it is written.
    if (fd >= 0 && !files::setSparseSize(fd, bytes)) {
      error = path.string() + ": " + std::strerror(errno);
      files::closeFile(fd);
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
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

CardImage::~CardImage() { files::closeFile(fd_); }

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

// Calls `piece(at, bytes)` for each run of `data` that is all real or all forged.
template <typename Byte, typename Piece>
bool CardImage::eachRun(std::uint64_t offset, std::span<Byte> data, Piece piece) const {
  for (std::size_t done = 0; done < data.size();) {
    const std::uint64_t at = offset + done;
    const auto run = data.subspan(done, static_cast<std::size_t>(std::min<std::uint64_t>(
                                            data.size() - done, runEnd(at) - at)));
    if (!piece(at, run)) return false;
    done += run.size();
  }
  return true;
}

bool CardImage::read(std::uint64_t offset, std::span<std::uint8_t> data) const {
  return eachRun(offset, data, [this](std::uint64_t at, std::span<std::uint8_t> run) {
    if (!forged(at)) return files::readAll(fd_, at, run);
    if (forgery_.kind == Forgery::Kind::Wrap)
      return files::readAll(fd_, at % forgery_.realBytes, run);
    std::fill(run.begin(), run.end(), forgery_.dropFill);
    return true;
  });
}

bool CardImage::write(std::uint64_t offset, std::span<const std::uint8_t> data) const {
  return eachRun(offset, data, [this](std::uint64_t at, std::span<const std::uint8_t> run) {
    if (!forged(at)) return files::writeAll(fd_, at, run);
    // A dropping forgery takes the bytes and keeps none.
    return forgery_.kind != Forgery::Kind::Wrap ||
           files::writeAll(fd_, at % forgery_.realBytes, run);
  });
}

} // namespace tarvix::platform::sim
