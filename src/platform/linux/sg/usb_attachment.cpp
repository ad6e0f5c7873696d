#include "platform/linux/sg/usb_attachment.h"

#include <string>
#include <system_error>

namespace tarvix::platform::linux_backend {

namespace fs = std::filesystem;

bool isUsbAttached(const fs::path& sysfsRoot, unsigned major, unsigned minor) {
  std::error_code error;
  const fs::path devices = fs::canonical(sysfsRoot / "devices", error);
  if (error) return false;
  const fs::path link =
      sysfsRoot / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
  fs::path node = fs::canonical(link, error);
  if (error) return false;
  // Walk up from the block device towards /sys/devices; a USB device or interface on the way
  // names "usb" as its subsystem.
  while (node != devices && node.has_relative_path() && node != node.parent_path()) {
    const fs::path subsystem = fs::read_symlink(node / "subsystem", error);
    if (!error && subsystem.filename() == "usb") return true;
    node = node.parent_path();
  }
  return false;
}

} // namespace tarvix::platform::linux_backend
