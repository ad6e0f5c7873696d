#include "platform/linux/sg/rights.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <string>

namespace tarvix::platform::linux_backend {

std::optional<std::uint64_t> effectiveCapabilities(std::string_view statusText) {
  constexpr std::string_view key = "CapEff:";
  std::size_t at = 0;
  while (at < statusText.size()) {
    const std::size_t end = statusText.find('\n', at);
    std::string_view line = statusText.substr(at, end == std::string_view::npos ? end : end - at);
    at = end == std::string_view::npos ? statusText.size() : end + 1;
    if (!line.starts_with(key)) continue;
    line.remove_prefix(key.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
      line.remove_prefix(1);
    std::uint64_t mask = 0;
    const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), mask, 16);
    if (ec != std::errc{} || ptr == line.data()) return std::nullopt;
    return mask;
  }
  return std::nullopt;
}

bool hasRawIoCapability(const std::filesystem::path& procStatus) {
  std::ifstream file(procStatus);
  if (!file) return false;
  std::ostringstream text;
  text << file.rdbuf();
  const auto mask = effectiveCapabilities(text.str());
  return mask && (*mask >> kCapSysRawIo & 1u) != 0;
}

} // namespace tarvix::platform::linux_backend
