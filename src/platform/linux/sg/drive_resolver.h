// Maps a drive name ("E:") to the block device of that letter's logical unit. Discovery will
// supply the real mapping; until then a fixed table stands in. Implementations are thread-safe.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>

namespace tarvix::platform::linux_backend {

class DriveResolver {
public:
  virtual ~DriveResolver() = default;
  // Empty when no logical unit carries that letter.
  virtual std::optional<std::filesystem::path> blockDevice(std::string_view driveName) const = 0;
};

// The drive letter of a name such as "E:" or "e", upper-cased; empty for anything else.
std::optional<char> driveLetter(std::string_view driveName);

class FixedDriveResolver final : public DriveResolver {
public:
  // Returns false for a name that is not a drive letter.
  bool assign(std::string_view driveName, std::filesystem::path device);
  std::optional<std::filesystem::path> blockDevice(std::string_view driveName) const override;

  // A table written as "E=/dev/sdb,F:=/dev/sdc"; empty when any entry is malformed.
  static std::optional<std::map<char, std::filesystem::path>> parse(std::string_view text);

private:
  mutable std::mutex mutex_;
  std::map<char, std::filesystem::path> devices_;
};

} // namespace tarvix::platform::linux_backend
