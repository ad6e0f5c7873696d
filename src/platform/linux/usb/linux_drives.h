// Drives on Linux: the letter table answers the mask and the inspections, a udev monitor raises
// the arrival and removal events. The monitor starts with the first listener. Thread-safe.
#pragma once

#include "platform/drives.h"
#include "platform/linux/usb/letter_table.h"
#include "platform/linux/usb/udev_monitor.h"
#include "platform/trace.h"

#include <functional>
#include <mutex>
#include <string_view>

namespace tarvix::platform::linux_usb {

inline constexpr std::string_view kTraceNoHotplug =
    "udev: cannot watch block devices; readers plugged in now show up at the next full scan";

class LinuxDrives final : public Drives {
public:
  // `letters` and `trace` must outlive this object.
  LinuxDrives(LetterTable& letters, TraceSink& trace);
  ~LinuxDrives() override; // stops the monitor before the listener goes

  std::uint32_t logicalDriveMask() const override;
  std::optional<DriveInfo> inspect(char letter) const override;
  // Once this returns, the previous listener is not called any more (unless this is called from
  // the listener itself, which may replace it). The listener must not wait for the thread that
  // sets listeners.
  void setEventListener(std::function<void(DeviceEvent)> listener) override;

  // What the monitor does with an event: bring the letters up to date, then tell the listener.
  void deliver(DeviceEvent event);

private:
  LetterTable& letters_;
  TraceSink& trace_;
  std::mutex callMutex_; // held while the listener runs, so a replaced one is never called late
  std::mutex listenerMutex_;
  std::function<void(DeviceEvent)> listener_;
  std::mutex monitorMutex_;
  UdevMonitor monitor_;
  bool monitorTried_ = false;
};

} // namespace tarvix::platform::linux_usb
