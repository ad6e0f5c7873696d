// The Linux answers to the station's drive, USB tree and volume questions, over one letter table,
// plus the drive-name resolver the pass-through reader access needs. `apps/` builds one and hands
// out its parts; they live as long as it does.
#pragma once

#include "platform/linux/usb/letter_table.h"
#include "platform/linux/usb/linux_drives.h"
#include "platform/linux/usb/linux_volumes.h"
#include "platform/linux/usb/sysfs_usb_tree.h"

namespace tarvix::platform::linux_usb {

class LinuxUsbBackend {
public:
  // `trace` must outlive the backend.
  explicit LinuxUsbBackend(TraceSink& trace, LinuxUsbConfig config = {})
      : letters_(std::move(config)), drives_(letters_, trace), tree_(letters_), volumes_(letters_),
        resolver_(letters_) {}

  Drives& drives() { return drives_; }
  UsbTree& usb() { return tree_; }
  Volumes& volumes() { return volumes_; }
  linux_backend::DriveResolver& resolver() { return resolver_; }
  LetterTable& letters() { return letters_; }

private:
  LetterTable letters_;
  LinuxDrives drives_;
  SysfsUsbTree tree_;
  LinuxVolumes volumes_;
  LetterDriveResolver resolver_;
};

} // namespace tarvix::platform::linux_usb
