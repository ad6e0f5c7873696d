// What the station knows about one drive letter: what stands behind it, where its reader sits on
// the USB tree, and which port box and slot it was given. Fields that workers read while the window
// thread scans (letter, LUN, slot, present) are atomics.
#pragma once

#include "platform/drives.h"
#include "station/numbering.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace tarvix::station {

// A position on the USB tree: level, host controller number (index + 1), root hub (1), then the
// port numbers at levels 3 to 7. Entries beyond the level are zero.
struct UsbPath {
  std::array<int, 8> entry{};

  int level() const { return entry[0]; }
  bool empty() const { return entry[0] == 0; }
  // True when this path's entries 1 to `prefix`'s level equal `prefix`'s.
  bool beginsWith(const UsbPath& prefix) const;
  // "controller-port.port..." (e.g. "1-2.7.1"); empty for no position.
  std::string text() const;
  bool operator==(const UsbPath&) const = default;
};

struct DriveRecord {
  std::atomic<char> letter{0}; // 'A'-'Z'; 0 while the record is empty
  platform::DriveType driveType = platform::DriveType::Unknown;
  UsbPath usbPath;
  int rootPortOrdinal = 0;
  std::uint32_t deviceNumber = 0;
  std::string driverKey; // the owning USB device's key
  int hub = 0;
  int port = 0;
  std::atomic<int> lun{0};
  std::atomic<int> slot{0};
  std::atomic<bool> present{false};
  // The English text id the card probe turned the reader down with; 0 when it did not. Window
  // thread.
  int probeRefusal = 0;
  // Changes whenever the record is emptied, so a worker can tell that the reader it started on
  // went away even when another one took the same letter since.
  std::atomic<std::uint32_t> generation{0};

  void reset();
};

// Hubs 1-3 as the walk first met them; an empty path is a free number.
using HubTable = std::array<UsbPath, kHubCount>;

} // namespace tarvix::station
