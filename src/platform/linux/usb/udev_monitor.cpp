#include "platform/linux/usb/udev_monitor.h"

#include <cerrno>
#include <cstdint>
#include <libudev.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarvix::platform::linux_usb {
namespace {

// A DEVPATH below a USB host controller has a component "usbN" (its root hub).
bool belowUsb(std::string_view devpath) {
  std::size_t at = 0;
  while ((at = devpath.find("/usb", at)) != std::string_view::npos) {
    at += 4;
    std::size_t digits = at;
    while (digits < devpath.size() && devpath[digits] >= '0' && devpath[digits] <= '9')
      ++digits;
    if (digits > at && (digits == devpath.size() || devpath[digits] == '/')) return true;
  }
  return false;
}

std::string_view orEmpty(const char* text) { return text ? std::string_view(text) : ""; }

} // namespace

std::optional<DeviceEvent> classifyBlockEvent(std::string_view action, std::string_view devpath,
                                              bool mediaChange, bool hasMedia) {
  if (!belowUsb(devpath)) return std::nullopt;
  if (action == "add") return DeviceEvent::Arrival;
  if (action == "remove") return DeviceEvent::Removal;
  if (action == "change" && mediaChange) {
    return hasMedia ? DeviceEvent::Arrival : DeviceEvent::Removal;
  }
  return std::nullopt;
}

UdevMonitor::UdevMonitor(std::function<void(DeviceEvent)> onEvent) : onEvent_(std::move(onEvent)) {}

UdevMonitor::~UdevMonitor() { stop(); }

bool UdevMonitor::start() {
  if (running()) return true;
  udev_ = udev_new();
  if (udev_ == nullptr) return false;
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (monitor_ == nullptr || stopFd_ < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    stop();
    return false;
  }
  thread_ = std::thread([this, monitor = monitor_] { run(monitor); });
  return true;
}

void UdevMonitor::stop() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  if (stopFd_ >= 0) ::close(stopFd_);
  stopFd_ = -1;
  if (monitor_ != nullptr) udev_monitor_unref(monitor_);
  monitor_ = nullptr;
  if (udev_ != nullptr) udev_unref(udev_);
  udev_ = nullptr;
}

void UdevMonitor::run(udev_monitor* monitor) {
  pollfd fds[2] = {{udev_monitor_get_fd(monitor), POLLIN, 0}, {stopFd_, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLNVAL) != 0) return;
    if (fds[0].revents == 0) continue;
    // Also on POLLERR: the receive clears a socket error such as an overflowed buffer.
    udev_device* device = udev_monitor_receive_device(monitor);
    if (device == nullptr) continue;
    const bool mediaChange =
        orEmpty(udev_device_get_property_value(device, "DISK_MEDIA_CHANGE")) == "1";
    const std::string_view size = orEmpty(udev_device_get_sysattr_value(device, "size"));
    const bool hasMedia = !size.empty() && size != "0";
    const auto event =
        classifyBlockEvent(orEmpty(udev_device_get_action(device)),
                           orEmpty(udev_device_get_devpath(device)), mediaChange, hasMedia);
    udev_device_unref(device);
    if (event && onEvent_) onEvent_(*event);
  }
}

} // namespace tarvix::platform::linux_usb
