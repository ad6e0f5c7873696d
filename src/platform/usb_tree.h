// The USB tree as the station walks it: host controllers, their root-hub ports, hubs and the
// devices on them. A backend answers with a snapshot, so a reader plugged in mid-walk shows up in
// the next walk rather than half in this one. Thread-safe.
#pragma once

#include <string>
#include <vector>

namespace tarvix::platform {

struct UsbPort {
  enum class Attached { Nothing, Hub, Device };
  Attached attached = Attached::Nothing;
  // Hub: its ports, port p at index p - 1; empty when the hub cannot be opened or queried.
  std::vector<UsbPort> ports;
  // Device: the key that ties it to its storage devices (DriveInfo::deviceKey).
  std::string deviceKey;
  // Device: the drive letter of the volume on its first disk; 0 when it has none.
  char firstVolumeLetter = 0;
};

struct HostController {
  int index = 0;                  // 0 to 9, in the system's order of host controllers
  std::vector<UsbPort> rootPorts; // port p at index p - 1; empty when the root hub can't be read
};

struct UsbTopology {
  std::vector<HostController> controllers; // ascending index
};

class UsbTree {
public:
  virtual ~UsbTree() = default;
  virtual UsbTopology snapshot() const = 0;
};

} // namespace tarvix::platform
