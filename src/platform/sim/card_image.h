// A file of fixed size that stands in for a card or an EEPROM: created sparse when missing,
// reused when its size matches, refused when it does not. Positioned reads and writes only, so
// any number of threads may use one image at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace tarvix::platform::sim {

// A card whose flash is smaller than it reports. Addresses from `realBytes` up either alias onto
// their remainder modulo `realBytes` (Wrap) or lose their writes and read as `dropFill` (Drop).
// The last `keptBytes` of the image are the controller's own and stay honest.
struct Forgery {
  enum class Kind : std::uint8_t { None, Wrap, Drop };
  Kind kind = Kind::None;
  std::uint64_t realBytes = 0;
  std::uint8_t dropFill = 0;
  std::uint64_t keptBytes = 0;
};

class CardImage {
public:
  // Checks without touching anything: true when `path` is absent or holds exactly `bytes`.
  static bool fits(const std::filesystem::path& path, std::uint64_t bytes, std::string& error);
  // Opens or creates the image; `fresh` tells whether it was created now.
  static std::unique_ptr<CardImage> open(const std::filesystem::path& path, std::uint64_t bytes,
                                         bool& fresh, std::string& error, Forgery forgery = {});
  ~CardImage();
  CardImage(const CardImage&) = delete;
  CardImage& operator=(const CardImage&) = delete;

  // False with errno set when the file refuses; the caller has checked the bounds. A forged image
  // moves its bytes where its forgery sends them.
  bool read(std::uint64_t offset, std::span<std::uint8_t> data) const;
  bool write(std::uint64_t offset, std::span<const std::uint8_t> data) const;
  std::uint64_t bytes() const { return bytes_; }
  const std::filesystem::path& path() const { return path_; }

private:
  CardImage(int fd, std::uint64_t bytes, std::filesystem::path path, Forgery forgery)
      : fd_(fd), bytes_(bytes), path_(std::move(path)), forgery_(forgery) {}
  bool forged(std::uint64_t offset) const;
  // Where the run of addresses that `offset` starts ends: the forgery treats it alike.
  std::uint64_t runEnd(std::uint64_t offset) const;
  template <typename Byte, typename Piece>
  bool eachRun(std::uint64_t offset, std::span<Byte> data, Piece piece) const;
  int fd_;
  std::uint64_t bytes_;
  std::filesystem::path path_;
  Forgery forgery_;
};

} // namespace tarvix::platform::sim
