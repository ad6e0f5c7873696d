// Mounts of block devices, read from /proc/self/mountinfo.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvix::platform::linux_volume {

// Mount points of the devices named "major:minor" in `devices`, last mounted first (so a mount
// stacked on another is taken down before it). Octal escapes in paths are decoded.
std::vector<std::string> mountPointsOf(std::string_view mountinfo,
                                       const std::vector<std::string>& devices);

} // namespace tarvix::platform::linux_volume
