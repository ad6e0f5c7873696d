#include "discovery/mapping.h"

#include <algorithm>
#include <vector>

namespace tarvix::discovery {
namespace {

using station::DriveRecord;
using station::kLunsPerPort;
using station::kPortCount;
using station::kPortsPerHub;

int lastPathEntry(const DriveRecord& r) { return r.usbPath.entry[r.usbPath.level()]; }

// Indices of up to four records, in letter order, that `matches` accepts, ordered by storage
// device number (equal numbers keep letter order). Index 0 ends such a list, so a list that would
// start with letter A is empty.
template <typename Match> std::vector<int> collect(station::StationState& state, Match matches) {
  std::vector<int> found;
  for (int d = 0; d < station::kDriveCount && found.size() < kLunsPerPort; ++d) {
    if (matches(state.driveRecords[d])) found.push_back(d);
  }
  if (auto end = std::find(found.begin(), found.end(), 0); end != found.end())
    found.erase(end, found.end());
  std::stable_sort(found.begin(), found.end(), [&](int a, int b) {
    return state.driveRecords[a].deviceNumber < state.driveRecords[b].deviceNumber;
  });
  return found;
}

void mapHub(station::StationState& state, int h) {
  const station::UsbPath& hub = state.hubTable[h - 1];
  if (hub.empty()) return;
  // Only readers plugged straight into the numbered hub qualify; hub and port stay once given.
  for (DriveRecord& r : state.driveRecords) {
    if (r.slot != 0) continue;
    if (r.usbPath.level() == hub.level() + 1 && r.usbPath.beginsWith(hub)) {
      r.hub = h;
      r.port = lastPathEntry(r) + kPortsPerHub * (h - 1);
    }
  }
  for (int j = 1; j <= kPortsPerHub; ++j) {
    const auto lunOrder = collect(state, [&](const DriveRecord& r) {
      return r.hub == h && r.usbPath.level() > 0 && lastPathEntry(r) == j;
    });
    for (int k = 1; k <= static_cast<int>(lunOrder.size()); ++k) {
      DriveRecord& r = state.driveRecords[lunOrder[k - 1]];
      r.lun = k;
      r.slot = station::slotNumber(r.port, k);
    }
  }
}

void mapRootPorts(station::StationState& state) {
  for (int i = 1; i <= state.rootPortCounter; ++i) {
    const auto lunOrder =
        collect(state, [&](const DriveRecord& r) { return r.rootPortOrdinal == i; });
    for (int k = 1; k <= static_cast<int>(lunOrder.size()); ++k) {
      DriveRecord& r = state.driveRecords[lunOrder[k - 1]];
      r.port = i;
      // Readers behind a hub, or beyond the twenty-first root port, keep their place in the order
      // but get no slot.
      const bool onScreen = i <= kPortCount && r.usbPath.level() == 3;
      r.lun = onScreen ? k : 0;
      r.slot = onScreen ? station::slotNumber(i, k) : 0;
    }
  }
}

} // namespace

void mapPortsAndSlots(station::StationState& state, MappingMode mode) {
  if (mode.hubMap) {
    for (int h = 1; h <= station::kHubCount; ++h)
      mapHub(state, h);
  }
  if (mode.noHubMap) mapRootPorts(state);
}

void assignSlots(station::StationState& state) {
  for (int d = 0; d < station::kDriveCount; ++d) {
    const DriveRecord& r = state.driveRecords[d];
    const int n = r.port;
    const int l = r.lun;
    if (r.slot == 0 || n < 1 || n > kPortCount || l < 1 || l > kLunsPerPort) continue;
    station::PortRecord& port = state.port(n);
    if (port.busy) continue; // a running worker's view of its port never changes under it
    port.assigned = true;
    port.driveLetter[l - 1] = r.letter.load();
    port.driveIndex[l - 1] = d;
    port.portNumber = n;
  }
}

} // namespace tarvix::discovery
