// The station's readers on Windows: drive letters and the USB tree through SetupAPI and the
// configuration manager, pass-through on \\.\X:, raw volumes with the disk control codes, and
// volume arrivals and removals from WM_DEVICECHANGE. Only disks attached through USB, never the
// system's own disk, are opened for writing.
#pragma once

#include "platform/drives.h"
#include "platform/reader_access.h"
#include "platform/trace.h"
#include "platform/usb_tree.h"
#include "platform/volumes.h"

#include <memory>

namespace tarvix::platform::windows {

class WindowsBackend {
public:
  explicit WindowsBackend(TraceSink& trace);
  ~WindowsBackend();
  WindowsBackend(const WindowsBackend&) = delete;
  WindowsBackend& operator=(const WindowsBackend&) = delete;

  Drives& drives();
  UsbTree& usb();
  ReaderAccess& readers();
  Volumes& volumes();

private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

} // namespace tarvix::platform::windows
