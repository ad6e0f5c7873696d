#include "platform/linux/usb/logical_units.h"

#include "platform/linux/usb/sysfs_files.h"

#include <algorithm>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>

namespace tarvix::platform::linux_usb {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kScsiTypeCdRom = 5;
constexpr unsigned kLunsPerHost = 256;

bool isUnitName(std::string_view name) {
  return name.size() > 2 && (name.starts_with("sd") || name.starts_with("sr"));
}

struct Partition {
  std::string name;
  unsigned number = 0;
  BlockDeviceNumber dev;
  fs::path dir;
};

// The partitions of a whole disk: its subdirectories that carry a `partition` file.
std::vector<Partition> partitionsOf(const fs::path& diskDir) {
  std::vector<Partition> found;
  for (const std::string& entry : listDirectory(diskDir)) {
    const fs::path dir = diskDir / entry;
    const auto number = readNumber(dir / "partition");
    if (!number) continue;
    const auto devText = readAttribute(dir / "dev");
    const auto dev = devText ? parseDeviceNumber(*devText) : std::nullopt;
    if (!dev) continue;
    found.push_back({entry, *number, *dev, dir});
  }
  std::sort(found.begin(), found.end(),
            [](const Partition& a, const Partition& b) { return a.number < b.number; });
  return found;
}

// The sysfs name of the nearest USB device above `node`; interfaces ("1-1:1.0") are passed over.
std::optional<std::string> owningUsbDevice(fs::path node, const fs::path& devicesRoot) {
  for (; node != devicesRoot && node.has_relative_path() && node != node.parent_path();
       node = node.parent_path()) {
    const std::string name = node.filename().string();
    if (name.find(':') == std::string::npos && subsystemOf(node) == "usb") return name;
  }
  return std::nullopt;
}

std::optional<BlockDeviceNumber> rootFilesystemDevice() {
  struct stat root {};
  if (::stat("/", &root) != 0) return std::nullopt;
  return BlockDeviceNumber{::major(root.st_dev), ::minor(root.st_dev)};
}

bool hasHolders(const fs::path& dir) { return !listDirectory(dir / "holders").empty(); }

// A disk that carries the running system, or a device-mapper or RAID stack (which a card in a
// reader never does), keeps no letter.
bool isSpared(const fs::path& diskDir, BlockDeviceNumber dev, const LinuxUsbConfig& config,
              const std::optional<BlockDeviceNumber>& rootDevice) {
  const auto matches = [&](BlockDeviceNumber candidate) {
    if (rootDevice && *rootDevice == candidate) return true;
    return std::find(config.spared.begin(), config.spared.end(), candidate) != config.spared.end();
  };
  if (matches(dev) || hasHolders(diskDir)) return true;
  for (const Partition& partition : partitionsOf(diskDir)) {
    if (matches(partition.dev) || hasHolders(partition.dir)) return true;
  }
  return false;
}

} // namespace

std::optional<BlockDeviceNumber> parseDeviceNumber(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto major = parseNumber(text.substr(0, colon));
  const auto minor = parseNumber(text.substr(colon + 1));
  if (!major || !minor) return std::nullopt;
  return BlockDeviceNumber{*major, *minor};
}

std::optional<ScsiAddress> parseScsiAddress(std::string_view text) {
  unsigned parts[4] = {};
  for (int i = 0; i < 4; ++i) {
    const auto colon = i < 3 ? text.find(':') : text.size();
    if (colon == std::string_view::npos) return std::nullopt;
    const auto value = parseNumber(text.substr(0, colon));
    if (!value) return std::nullopt;
    parts[i] = *value;
    text = i < 3 ? text.substr(colon + 1) : std::string_view{};
  }
  return ScsiAddress{parts[0], parts[1], parts[2], parts[3]};
}

std::vector<LogicalUnit> findUsbLogicalUnits(const LinuxUsbConfig& config) {
  std::vector<LogicalUnit> units;
  std::error_code error;
  const fs::path devicesRoot = fs::canonical(config.sysfsRoot / "devices", error);
  if (error) return units;
  const auto rootDevice =
      config.spareRootFilesystem ? rootFilesystemDevice() : std::optional<BlockDeviceNumber>{};

  const fs::path classBlock = config.sysfsRoot / "class" / "block";
  for (const std::string& name : listDirectory(classBlock)) {
    if (!isUnitName(name)) continue;
    const fs::path diskDir = fs::canonical(classBlock / name, error);
    if (error || fs::exists(diskDir / "partition", error)) continue;
    const auto devText = readAttribute(diskDir / "dev");
    const auto dev = devText ? parseDeviceNumber(*devText) : std::nullopt;
    if (!dev) continue;
    const fs::path scsiDir = fs::canonical(diskDir / "device", error);
    if (error) continue;
    const auto address = parseScsiAddress(scsiDir.filename().string());
    if (!address) continue;
    const auto key = owningUsbDevice(diskDir.parent_path(), devicesRoot);
    if (!key || isSpared(diskDir, *dev, config, rootDevice)) continue;

    LogicalUnit unit;
    unit.id = diskDir.lexically_relative(devicesRoot).string();
    unit.name = name;
    unit.dev = *dev;
    unit.address = *address;
    unit.deviceKey = *key;
    unit.deviceNumber = address->host * kLunsPerHost + std::min(address->lun, kLunsPerHost - 1);
    if (name.starts_with("sr") || readNumber(scsiDir / "type") == kScsiTypeCdRom) {
      unit.type = DriveType::CdRom;
    } else {
      unit.type =
          readAttribute(diskDir / "removable") == "1" ? DriveType::Removable : DriveType::Fixed;
    }
    units.push_back(std::move(unit));
  }
  std::sort(units.begin(), units.end(),
            [](const LogicalUnit& a, const LogicalUnit& b) { return a.address < b.address; });
  return units;
}

std::optional<VolumeNode> volumeNode(const fs::path& sysfsRoot, const LogicalUnit& unit) {
  std::error_code error;
  const fs::path diskDir = fs::canonical(sysfsRoot / "class" / "block" / unit.name, error);
  if (error) return std::nullopt;
  // The name may have passed to another device since the unit was read.
  const auto devText = readAttribute(diskDir / "dev");
  if (!devText || parseDeviceNumber(*devText) != unit.dev) return std::nullopt;
  const auto partitions = partitionsOf(diskDir);
  if (!partitions.empty()) return VolumeNode{partitions.front().name, partitions.front().dev};
  return VolumeNode{unit.name, unit.dev};
}

} // namespace tarvix::platform::linux_usb
