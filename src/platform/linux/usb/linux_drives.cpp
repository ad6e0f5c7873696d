#include "platform/linux/usb/linux_drives.h"

namespace tarvix::platform::linux_usb {
namespace {

// The drives whose listener this thread is running, so that listener may replace itself.
thread_local const LinuxDrives* delivering = nullptr;

} // namespace

LinuxDrives::LinuxDrives(LetterTable& letters, TraceSink& trace)
    : letters_(letters), trace_(trace), monitor_([this](DeviceEvent event) { deliver(event); }) {}

LinuxDrives::~LinuxDrives() { monitor_.stop(); }

std::uint32_t LinuxDrives::logicalDriveMask() const {
  letters_.refresh();
  return letters_.mask();
}

std::optional<DriveInfo> LinuxDrives::inspect(char letter) const {
  // A scan inspects every letter without reading the mask first, so each answer is a fresh one.
  letters_.refresh();
  const auto unit = letters_.find(letter);
  if (!unit) return std::nullopt;
  return DriveInfo{unit->deviceNumber, unit->type, unit->deviceKey};
}

void LinuxDrives::setEventListener(std::function<void(DeviceEvent)> listener) {
  const bool wanted = static_cast<bool>(listener);
  {
    std::unique_lock call(callMutex_, std::defer_lock);
    if (delivering != this) call.lock();
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(listener);
  }
  if (!wanted) return;
  std::lock_guard lock(monitorMutex_);
  if (monitorTried_) return;
  monitorTried_ = true;
  if (!monitor_.start()) trace_.line(kTraceNoHotplug);
}

void LinuxDrives::deliver(DeviceEvent event) {
  letters_.refresh();
  std::lock_guard call(callMutex_);
  std::function<void(DeviceEvent)> listener;
  {
    std::lock_guard lock(listenerMutex_);
    listener = listener_;
  }
  if (!listener) return;
  const LinuxDrives* outer = delivering;
  delivering = this;
  listener(event);
  delivering = outer;
}

} // namespace tarvix::platform::linux_usb
