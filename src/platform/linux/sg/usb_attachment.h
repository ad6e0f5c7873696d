// Whether a block device hangs below a USB device, read from sysfs. The sysfs root is a
// parameter so tests can build a fake tree. Thread-safe (reads only).
#pragma once

#include <filesystem>

namespace tarvix::platform::linux_backend {

// True when <sysfsRoot>/dev/block/<major>:<minor> resolves to a device with a USB ancestor.
// Anything unreadable counts as not USB: the station never writes to a disk it cannot place.
bool isUsbAttached(const std::filesystem::path& sysfsRoot, unsigned major, unsigned minor);

} // namespace tarvix::platform::linux_backend
