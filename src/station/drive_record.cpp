#include "station/drive_record.h"

namespace tarvix::station {

bool UsbPath::beginsWith(const UsbPath& prefix) const {
  for (int i = 1; i <= prefix.level() && i < static_cast<int>(entry.size()); ++i) {
    if (entry[i] != prefix.entry[i]) return false;
  }
  return true;
}

std::string UsbPath::text() const {
  if (empty()) return {};
  // Entry 1 is the controller, entry 2 its root hub; the ports follow from level 3.
  std::string text = std::to_string(entry[1]);
  for (int at = 3; at <= level() && at < static_cast<int>(entry.size()); ++at)
    text += (at == 3 ? '-' : '.') + std::to_string(entry[at]);
  return text;
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
  probeRefusal = 0;
  ++generation;
}

} // namespace tarvix::station
