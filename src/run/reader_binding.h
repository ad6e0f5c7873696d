// The readers a worker was started on. Captured on the window thread when the port starts; a step
// checks it before and after it opens a LUN, and the worker before it shows pass, so that no
// command of the worker reaches a reader that took a pulled reader's letter, and a pass is shown
// only while the reader that was prepared is still there.
#pragma once

#include "platform/drives.h"
#include "station/station_state.h"

#include <array>
#include <cstdint>
#include <string>

namespace tarvix::run {

struct BoundLun {
  int driveIndex = station::kNoDrive;
  char letter = 0;
  int slot = 0;
  station::LunKind kind = station::LunKind::None;
  std::uint32_t generation = 0; // the drive record's, when captured
  std::uint32_t deviceNumber = 0;
  std::string deviceKey;
};

class ReaderBinding {
public:
  // The LUNs of `port` as they stand now. Window thread: the scans change the records there.
  static ReaderBinding capture(const station::StationState& state, const station::PortRecord& port);

  // LUN 1-4.
  const BoundLun& lun(int lun) const { return luns_[lun - 1]; }

  // True while the drive `driveIndex` is one of the bound LUNs and still the same reader: its
  // record not emptied since, and the system still shows the same device behind its letter. Any
  // thread.
  [[nodiscard]] bool holds(const platform::Drives& drives, const station::StationState& state,
                           int driveIndex) const;
  // True while every bound LUN holds.
  [[nodiscard]] bool holdsAll(const platform::Drives& drives,
                              const station::StationState& state) const;

private:
  std::array<BoundLun, station::kLunsPerPort> luns_{};
};

} // namespace tarvix::run
