#include "station/drive_record.h"

namespace tarvix::station {

bool UsbPath::beginsWith(const UsbPath& prefix) const {
  for (int i = 1; i <= prefix.level() && i < static_cast<int>(entry.size()); ++i) {
    if (entry[i] != prefix.entry[i]) return false;
  }
  return true;
}

void DriveRecord::reset() {
  letter = 0;
  driveType = platform::DriveType::Unknown;
  usbPath = {};
  rootPortOrdinal = 0;
  deviceNumber = 0;
  driverKey.clear();
  hub = 0;
  port = 0;
  lun = 0;
  slot = 0;
  present = false;
  ++generation;
}

} // namespace tarvix::station
