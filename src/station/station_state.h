// The state the whole station shares: port records, slot arrays, the drive table and what the USB
// walk remembers between scans. The window owns it; the scans change it on the window thread and
// workers read and write their own port's part of it.
#pragma once

#include "station/drive_record.h"
#include "station/records.h"
#include "station/serial_source.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace tarvix::station {

struct StationState {
  std::array<PortRecord, kPortCount> ports;
  std::array<std::atomic<char>, kSlotCount> slotDriveLetter{};
  std::array<std::atomic<SlotColour>, kSlotCount> slotColour{};
  std::array<CapacityCheckRecord, kSlotCount> capacityChecks{}; // cleared when a run is prepared
  std::array<DriveRecord, kDriveCount> driveRecords;            // index = letter - 'A'
  HubTable hubTable{};
  std::array<int, kHubCount> hubPortCount{}; // ports of each numbered hub's first chip
  int rootPortCounter = 0;                   // root-hub ports the latest walk visited
  std::uint32_t driveMaskPrevious = 0;
  std::uint32_t driveMaskCurrent = 0;

  // The options and images of a run, set on the window thread before workers start and read-only
  // for them while they run.
  int icType = 0;        // controller model row
  int llfSelect = 0;     // low-level format extent row
  int maxPowerValue = 0; // units of 2 mA
  int rwTestCount = 0;
  std::uint32_t neededSectors = 0; // what a card must offer beyond the reserve
  std::vector<std::uint8_t> isoImage;
  std::vector<std::uint8_t> binImage;
  std::uint32_t isoSize = 0;
  std::uint32_t binSize = 0;
  std::uint32_t binAreaSize = 0; // binSize + 512

  // The serial number for the next reader, twelve digits; workers take and advance it under the
  // station lock, the one lock of the station, and keep the advanced one in `serialFile` before
  // the one they took reaches a card, so a crash never hands a serial number out twice.
  std::string serialText;
  std::filesystem::path serialFile;
  bool serialSaveFailed = false; // the run has already told the operator
  // The production line's series, when the station is on a line: every serial number comes from
  // it instead. Owned elsewhere; set before the first run.
  SerialSource* serialSource = nullptr;
  std::mutex stationLock;
  // Set when the station closes: work that waits on something outside (the copy tool) stops.
  std::atomic<bool> closing{false};

  PortRecord& port(int n) { return ports[n - 1]; }
  std::atomic<SlotColour>& colourOf(int slot) { return slotColour[slot - 1]; }
  CapacityCheckRecord& capacityCheckOf(int slot) { return capacityChecks[slot - 1]; }
  std::atomic<char>& letterOf(int slot) { return slotDriveLetter[slot - 1]; }
  DriveRecord& record(char letter) { return driveRecords[letter - 'A']; }
};

} // namespace tarvix::station
