// The USB mass-storage logical units the kernel presents as SCSI disks (sd) and CD-ROMs (sr),
// read from sysfs. Only units with a USB device among their ancestors are reported, so the system
// disk, a virtual disk or a network disk never shows up here. Stateless and thread-safe.
#pragma once

#include "platform/drives.h"

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::platform::linux_usb {

struct BlockDeviceNumber {
  unsigned major = 0;
  unsigned minor = 0;
  bool operator==(const BlockDeviceNumber&) const = default;
};

// "8:16" as a sysfs `dev` file holds it.
std::optional<BlockDeviceNumber> parseDeviceNumber(std::string_view text);

struct LinuxUsbConfig {
  std::filesystem::path sysfsRoot = "/sys";
  std::filesystem::path devRoot = "/dev"; // device nodes carry the kernel names
  // A system installed on a USB disk must not get a letter: the disk holding the root file system
  // is left out, and so is any disk listed here.
  bool spareRootFilesystem = true;
  std::vector<BlockDeviceNumber> spared;
};

struct ScsiAddress {
  unsigned host = 0;
  unsigned channel = 0;
  unsigned target = 0;
  unsigned lun = 0;
  auto operator<=>(const ScsiAddress&) const = default;
};

// "6:0:0:1" as the name of a SCSI device directory.
std::optional<ScsiAddress> parseScsiAddress(std::string_view text);

struct LogicalUnit {
  std::string id;   // sysfs path of its block device below devices/; names one unit while present
  std::string name; // kernel name of the whole-disk block device, "sdb" or "sr0"
  BlockDeviceNumber dev;
  ScsiAddress address;
  DriveType type = DriveType::Unknown;
  std::string deviceKey; // sysfs name of the owning USB device, "1-1.3"
  // A reader's controller numbers its units by LUN, and one reader is one SCSI host, so the host
  // and the LUN give a number that orders a reader's units and stays put while it is plugged.
  std::uint32_t deviceNumber = 0;
  bool operator==(const LogicalUnit&) const = default;
};

// Every USB sd and sr unit below `config.sysfsRoot`, by ascending SCSI address.
std::vector<LogicalUnit> findUsbLogicalUnits(const LinuxUsbConfig& config);

// The block device that holds the unit's volume: its lowest-numbered partition, or the whole disk
// when it has none (a card used without partitions, or no card at all).
struct VolumeNode {
  std::string name;
  BlockDeviceNumber dev;
};
std::optional<VolumeNode> volumeNode(const std::filesystem::path& sysfsRoot,
                                     const LogicalUnit& unit);

} // namespace tarvix::platform::linux_usb
