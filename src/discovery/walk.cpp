#include "discovery/walk.h"

#include <cctype>

namespace tarvix::discovery {
namespace {

using station::DriveRecord;
using station::UsbPath;

constexpr int kMaxControllers = 10;
constexpr int kRootPortLevel = 3;
constexpr int kDeepestLevel = 7; // a path has room for ports down to this level

class Walker {
public:
  explicit Walker(station::StationState& state) : state_(state) {}

  void controller(const platform::HostController& hc) {
    current_ = {};
    current_.entry[0] = 2; // the controller's root hub
    current_.entry[1] = hc.index + 1;
    current_.entry[2] = 1;
    current_.entry[0] = kRootPortLevel;
    ports(hc.rootPorts);
  }

private:
  void ports(const std::vector<platform::UsbPort>& list) {
    const int level = current_.level();
    for (int p = 1; p <= static_cast<int>(list.size()); ++p) {
      if (level == kRootPortLevel) ++state_.rootPortCounter;
      current_.entry[level] = p;
      const platform::UsbPort& port = list[p - 1];
      switch (port.attached) {
      case platform::UsbPort::Attached::Nothing: break;
      case platform::UsbPort::Attached::Hub:
        noteHub(static_cast<int>(port.ports.size()));
        // Deeper chains than a path can hold are not followed.
        if (level < kDeepestLevel) {
          current_.entry[0] = level + 1;
          ports(port.ports);
          current_.entry[level + 1] = 0;
          current_.entry[0] = level;
        }
        break;
      case platform::UsbPort::Attached::Device:
        if (port.firstVolumeLetter != 0) recordPosition(port.firstVolumeLetter);
        break;
      }
    }
  }

  // Hubs get numbers in the order the walk meets them; a hub below a numbered hub gets none.
  void noteHub(int portCount) {
    auto& hubs = state_.hubTable;
    int numbered = -1;
    if (hubs[0].empty()) {
      numbered = 0;
    } else if (hubs[1].empty()) {
      if (!current_.beginsWith(hubs[0])) numbered = 1;
    } else if (hubs[2].empty()) {
      if (!current_.beginsWith(hubs[0]) && !current_.beginsWith(hubs[1])) numbered = 2;
    }
    if (numbered < 0) return;
    hubs[numbered] = current_;
    state_.hubPortCount[numbered] = portCount;
  }

  void recordPosition(char letter) {
    if (letter < 'A' || letter > 'Z') return;
    DriveRecord& found = state_.record(letter);
    if (found.letter == 0) return; // its inspection failed
    found.usbPath = current_;
    found.rootPortOrdinal = state_.rootPortCounter;
    // Every letter of the reader (card LUNs and a CD-ROM LUN alike) shares its USB device, so they
    // all take the position the walk reached through the first disk.
    for (DriveRecord& other : state_.driveRecords) {
      if (&other == &found || other.letter == 0 || other.driverKey != found.driverKey) continue;
      other.usbPath = current_;
      other.rootPortOrdinal = state_.rootPortCounter;
      other.hub = found.hub;
    }
  }

  station::StationState& state_;
  UsbPath current_;
};

} // namespace

bool inspectDrive(const platform::Drives& drives, char letter, DriveRecord& record) {
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (letter < 'A' || letter > 'Z') return false;
  const auto info = drives.inspect(letter);
  if (!info) return false;
  record.letter = letter;
  record.driveType = info->type;
  record.deviceNumber = info->deviceNumber;
  record.driverKey = info->deviceKey;
  return true;
}

void walkUsb(const platform::UsbTopology& topology, station::StationState& state) {
  state.rootPortCounter = 0;
  Walker walker(state);
  for (const platform::HostController& hc : topology.controllers) {
    if (hc.index >= 0 && hc.index < kMaxControllers) walker.controller(hc);
  }
}

} // namespace tarvix::discovery
