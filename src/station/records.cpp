#include "station/records.h"

namespace tarvix::station {

void PortRecord::clear() {
  assigned = false;
  busy = false;
  done = false;
  ready = false;
  cardInfoWritten = false;
  portNumber = 0;
  for (int lun = 0; lun < kLunsPerPort; ++lun) {
    driveLetter[lun] = 0;
    driveIndex[lun] = kNoDrive;
    lunKind[lun] = LunKind::None;
  }
}

bool PortRecord::empty() const {
  for (const auto& index : driveIndex) {
    if (index != kNoDrive) return false;
  }
  return true;
}

std::string driveName(char letter) { return std::string{letter, ':'}; }

} // namespace tarvix::station
