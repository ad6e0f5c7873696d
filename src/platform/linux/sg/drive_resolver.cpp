#include "platform/linux/sg/drive_resolver.h"

namespace tarvix::platform::linux_backend {

std::optional<char> driveLetter(std::string_view driveName) {
  if (driveName.empty() || driveName.size() > 2) return std::nullopt;
  if (driveName.size() == 2 && driveName[1] != ':') return std::nullopt;
  char letter = driveName[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return std::nullopt;
  return letter;
}

bool FixedDriveResolver::assign(std::string_view driveName, std::filesystem::path device) {
  const auto letter = driveLetter(driveName);
  if (!letter) return false;
  std::lock_guard lock(mutex_);
  devices_[*letter] = std::move(device);
  return true;
}

std::optional<std::filesystem::path>
FixedDriveResolver::blockDevice(std::string_view driveName) const {
  const auto letter = driveLetter(driveName);
  if (!letter) return std::nullopt;
  std::lock_guard lock(mutex_);
  const auto found = devices_.find(*letter);
  if (found == devices_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::map<char, std::filesystem::path>>
FixedDriveResolver::parse(std::string_view text) {
  std::map<char, std::filesystem::path> table;
  while (!text.empty()) {
    const auto comma = text.find(',');
    const std::string_view entry = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const auto letter = driveLetter(entry.substr(0, equals));
    const std::string_view device = entry.substr(equals + 1);
    if (!letter || device.empty()) return std::nullopt;
    table[*letter] = std::filesystem::path(device);
  }
  return table;
}

} // namespace tarvix::platform::linux_backend
