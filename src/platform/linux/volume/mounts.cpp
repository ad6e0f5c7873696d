#include "platform/linux/volume/mounts.h"

#include <algorithm>
#include <sstream>

namespace tarvix::platform::linux_volume {
namespace {

// The kernel writes blank, tab, newline and backslash in paths as \ooo.
std::string unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const auto octal = field.substr(i + 1, 3);
      if (std::all_of(octal.begin(), octal.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out += static_cast<char>((octal[0] - '0') * 64 + (octal[1] - '0') * 8 + (octal[2] - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

} // namespace

std::vector<std::string> mountPointsOf(std::string_view mountinfo,
                                       const std::vector<std::string>& devices) {
  // Each line: id parent major:minor root mount-point options ...
  std::vector<std::string> points;
  std::istringstream lines{std::string(mountinfo)};
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    if (!(fields >> id >> parent >> device >> root >> point)) continue;
    if (std::find(devices.begin(), devices.end(), device) != devices.end()) {
      points.push_back(unescape(point));
    }
  }
  std::reverse(points.begin(), points.end());
  return points;
}

} // namespace tarvix::platform::linux_volume
