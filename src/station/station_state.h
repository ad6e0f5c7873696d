// What the station knows of the readers attached: port records, slot arrays, the drive table and
// what the USB walk remembers between scans. The window owns it; the scans change it on the window
// thread and workers read and write their own port's part of it. A run's options, images and serial
// numbers are the run's own (run/).
#pragma once

#include "station/drive_record.h"
#include "station/records.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace tarvix::station {

struct StationState {
  std::array<PortRecord, kPortCount> ports;
  std::array<std::atomic<char>, kSlotCount> slotDriveLetter{};
  std::array<std::atomic<SlotColour>, kSlotCount> slotColour{};
  std::array<DriveRecord, kDriveCount> driveRecords; // index = letter - 'A'
  HubTable hubTable{};
  std::array<int, kHubCount> hubPortCount{}; // ports of each numbered hub's first chip
  int rootPortCounter = 0;                   // root-hub ports the latest walk visited
  std::uint32_t driveMaskPrevious = 0;
  std::uint32_t driveMaskCurrent = 0;

  PortRecord& port(int n) { return ports[n - 1]; }
  std::atomic<SlotColour>& colourOf(int slot) { return slotColour[slot - 1]; }
  std::atomic<char>& letterOf(int slot) { return slotDriveLetter[slot - 1]; }
  DriveRecord& record(char letter) { return driveRecords[letter - 'A']; }
};

} // namespace tarvix::station
