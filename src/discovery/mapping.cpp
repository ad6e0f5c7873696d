#include "discovery/mapping.h"

#include <algorithm>
#include <vector>

namespace tarvix::discovery {
namespace {

using station::DriveRecord;
using station::kLunsPerPort;
using station::kPortCount;
using station::kPortsPerHub;

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

// The port of numbered hub `h` a record's reader sits in, 0 when it is not on that hub. A
// seven-port hub is mostly two chained four-port chips, the inner chip in the outer chip's last
// port: the hub's ports are the outer chip's but the last, then the inner chip's.
int hubPort(const station::StationState& state, int h, const DriveRecord& r) {
  const station::UsbPath& hub = state.hubTable[h - 1];
  if (!r.usbPath.beginsWith(hub)) return 0;
  const int level = hub.level();
  if (r.usbPath.level() == level + 1) return r.usbPath.entry[level + 1];
  const int outerPorts = state.hubPortCount[h - 1];
  if (r.usbPath.level() == level + 2 && outerPorts > 0 &&
      r.usbPath.entry[level + 1] == outerPorts) {
    return outerPorts - 1 + r.usbPath.entry[level + 2];
  }
  return 0;
}

void mapHub(station::StationState& state, int h) {
  if (state.hubTable[h - 1].empty()) return;
  const int firstPort = kPortsPerHub * (h - 1);
  // Hub and port are given once; readers behind any further hub get none.
  for (DriveRecord& r : state.driveRecords) {
    if (r.slot != 0) continue;
    if (const int j = hubPort(state, h, r); j != 0) {
      r.hub = h;
      r.port = j + firstPort;
    }
  }
  for (int j = 1; j <= kPortsPerHub; ++j) {
    const auto lunOrder = collect(state, [&](const DriveRecord& r) {
      return r.hub == h && r.port == j + firstPort && r.usbPath.level() > 0;
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
