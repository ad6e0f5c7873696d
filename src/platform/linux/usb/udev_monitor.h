// Watches the kernel's block devices through libudev on a thread of its own and reports the
// arrival and removal of storage below USB. Start and stop from one thread; the callback runs on
// the monitor's thread.
#pragma once

#include "platform/drives.h"

#include <functional>
#include <optional>
#include <string_view>
#include <thread>

struct udev;
struct udev_monitor;

namespace tarvix::platform::linux_usb {

// What one udev block event means to the station: a disk or partition below a USB device that
// comes or goes, or a card put into or taken out of a reader (a media change on the disk).
// `devpath` is the event's DEVPATH; `hasMedia` tells whether the disk now has a non-zero size.
std::optional<DeviceEvent> classifyBlockEvent(std::string_view action, std::string_view devpath,
                                              bool mediaChange, bool hasMedia);

class UdevMonitor {
public:
  explicit UdevMonitor(std::function<void(DeviceEvent)> onEvent);
  ~UdevMonitor(); // stops
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  // False when udev cannot be listened to (no netlink socket, say); then nothing is reported.
  bool start();
  // Waits for the thread; after it returns the callback is not called again.
  void stop();
  bool running() const { return thread_.joinable(); }

private:
  void run(::udev_monitor* monitor);

  std::function<void(DeviceEvent)> onEvent_;
  ::udev* udev_ = nullptr;
  ::udev_monitor* monitor_ = nullptr;
  int stopFd_ = -1;
  std::thread thread_;
};

} // namespace tarvix::platform::linux_usb
