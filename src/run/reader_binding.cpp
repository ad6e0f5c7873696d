#include "run/reader_binding.h"

namespace tarvix::run {

ReaderBinding ReaderBinding::capture(const station::StationState& state,
                                     const station::PortRecord& port) {
  ReaderBinding binding;
  for (int lun = 0; lun < station::kLunsPerPort; ++lun) {
    const int index = port.driveIndex[lun];
    if (index == station::kNoDrive) continue;
    const station::DriveRecord& record = state.driveRecords[index];
    BoundLun& bound = binding.luns_[lun];
    bound.driveIndex = index;
    bound.letter = record.letter;
    bound.slot = record.slot;
    bound.kind = port.lunKind[lun];
    bound.generation = record.generation;
    bound.deviceNumber = record.deviceNumber;
    bound.deviceKey = record.driverKey;
  }
  return binding;
}

bool ReaderBinding::holds(const platform::Drives& drives, const station::StationState& state,
                          int driveIndex) const {
  for (const BoundLun& bound : luns_) {
    if (bound.driveIndex != driveIndex || driveIndex == station::kNoDrive) continue;
    if (state.driveRecords[driveIndex].generation != bound.generation) return false;
    // The record lags behind the system until the window thread's removal pass has run; the
    // system's own view of the letter does not.
    const auto now = drives.inspect(bound.letter);
    return now && now->deviceNumber == bound.deviceNumber && now->deviceKey == bound.deviceKey;
  }
  return false;
}

bool ReaderBinding::holdsAll(const platform::Drives& drives,
                             const station::StationState& state) const {
  for (const BoundLun& bound : luns_) {
    if (bound.driveIndex != station::kNoDrive && !holds(drives, state, bound.driveIndex))
      return false;
  }
  return true;
}

} // namespace tarvix::run
