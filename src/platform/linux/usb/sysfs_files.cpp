#include "platform/linux/usb/sysfs_files.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <system_error>

namespace tarvix::platform::linux_usb {

namespace fs = std::filesystem;

std::optional<std::string> readAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  const auto first = line.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string{};
  const auto last = line.find_last_not_of(" \t\r\n");
  return line.substr(first, last - first + 1);
}

std::optional<unsigned> parseNumber(std::string_view text, int base) {
  if (text.empty()) return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<unsigned> readNumber(const fs::path& file, int base) {
  const auto text = readAttribute(file);
  if (!text) return std::nullopt;
  return parseNumber(*text, base);
}

std::vector<std::string> listDirectory(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(dir, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string subsystemOf(const fs::path& node) {
  std::error_code error;
  const fs::path target = fs::read_symlink(node / "subsystem", error);
  return error ? std::string{} : target.filename().string();
}

} // namespace tarvix::platform::linux_usb
