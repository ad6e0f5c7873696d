// Numbering shared by every subsystem: ports, LUNs, slots, drive indices and the control ids that
// derive from them.
#pragma once

namespace tarvix::station {

inline constexpr int kPortCount = 21; // n = 1..21: hub 1 ports 1-7, hub 2 8-14, hub 3 15-21
inline constexpr int kPortsPerHub = 7;
inline constexpr int kHubCount = 3;
inline constexpr int kLunsPerPort = 4; // l = 1..4; only LUNs 1 and 2 have visible lines
inline constexpr int kVisibleLuns = 2;
inline constexpr int kSlotCount = kPortCount * kLunsPerPort; // s = 1..84
inline constexpr int kDriveCount = 26;                       // d = 0..25 for A..Z
inline constexpr int kProgressMax = 200;

constexpr int slotNumber(int port, int lun) { return (port - 1) * kLunsPerPort + lun; }
constexpr int portOfSlot(int slot) { return (slot - 1) / kLunsPerPort + 1; }
constexpr int lunOfSlot(int slot) { return (slot - 1) % kLunsPerPort + 1; }
constexpr int hubOfPort(int port) { return (port - 1) / kPortsPerHub + 1; }

constexpr int portBoxId(int port) { return 1291 + port; }
constexpr int progressBarId(int port) { return 1224 + port; }
constexpr int statusPictureId(int port) { return 1251 + port; }
constexpr int slotLabelId(int slot) { return 1005 + slot; }
constexpr int resultLineId(int slot) { return 1130 + slot; }
constexpr int hubBoxId(int hub) { return 1277 + hub; }

constexpr bool isResultLine(int id) {
  return id >= resultLineId(1) && id <= resultLineId(kSlotCount);
}
constexpr int slotOfResultLine(int id) { return id - 1130; }

static_assert(slotNumber(10, 1) == 37);
static_assert(portBoxId(1) == 1292 && portBoxId(kPortCount) == 1312);
static_assert(progressBarId(kPortCount) == 1245 && statusPictureId(kPortCount) == 1272);
static_assert(slotLabelId(kSlotCount) == 1089 && resultLineId(kSlotCount) == 1214);

} // namespace tarvix::station
