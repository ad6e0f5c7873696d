// The USB tree read from sysfs. Host controllers are the root hubs usbN in bus order; a device's
// position is spelled by its sysfs name ("2-1.4.3": bus 2, root port 1, hub port 4, port 3); a hub
// is a device of class 09 whose port count is its `maxchild`. Thread-safe.
#pragma once

#include "platform/linux/usb/letter_table.h"
#include "platform/usb_tree.h"

namespace tarvix::platform::linux_usb {

class SysfsUsbTree final : public UsbTree {
public:
  // Reads the tree below `letters.config().sysfsRoot`; `letters` must outlive this tree.
  explicit SysfsUsbTree(LetterTable& letters) : letters_(letters) {}
  UsbTopology snapshot() const override;

private:
  LetterTable& letters_;
};

} // namespace tarvix::platform::linux_usb
