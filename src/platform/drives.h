// The drive letters the station sees and what stands behind each. Letters A-Z are bits 0-25 of
// the logical-drive mask; like a desktop system, a backend hands each USB mass-storage logical
// unit the lowest free letter from D and keeps it while the unit is present.
// Thread-safe: the window thread inspects while workers run.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tarvix::platform {

enum class DriveType : std::uint32_t { Unknown = 0, Removable = 2, Fixed = 3, CdRom = 5 };

struct DriveInfo {
  std::uint32_t deviceNumber = 0; // storage device number; orders the units of one reader
  DriveType type = DriveType::Unknown;
  std::string deviceKey; // the owning USB device's key, as UsbTree reports it
};

enum class DeviceEvent { Arrival, Removal };

class Drives {
public:
  virtual ~Drives() = default;
  virtual std::uint32_t logicalDriveMask() const = 0;
  // What stands behind `letter` ('A'-'Z'); nothing when the letter is absent or is no storage
  // device the station can tie to a USB device (a network drive, say).
  virtual std::optional<DriveInfo> inspect(char letter) const = 0;
  // Calls `listener` whenever a storage volume comes up or goes away. The backend may call it on
  // any thread; the station moves it to the window thread. Replaces any earlier listener; an
  // empty function stops the calls.
  virtual void setEventListener(std::function<void(DeviceEvent)> listener) = 0;
};

} // namespace tarvix::platform
