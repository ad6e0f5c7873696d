#include "platform/linux/usb/sysfs_usb_tree.h"

#include "platform/linux/usb/sysfs_files.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>

namespace tarvix::platform::linux_usb {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxControllers = 10;
constexpr unsigned kHubClass = 0x09;
constexpr unsigned kMaxPorts = 255; // a hub descriptor counts its ports in one byte

class TreeReader {
public:
  TreeReader(const fs::path& sysfsRoot, std::vector<LetteredUnit> units)
      : devicesDir_(sysfsRoot / "bus" / "usb" / "devices"), units_(std::move(units)) {
    // Interfaces ("1-1:1.0") share the directory; only devices can sit on a port.
    for (std::string& name : listDirectory(devicesDir_)) {
      if (name.find(':') == std::string::npos) names_.insert(std::move(name));
    }
  }

  // Root hubs "usbN" by ascending bus number.
  std::vector<std::pair<unsigned, std::string>> rootHubs() const {
    std::vector<std::pair<unsigned, std::string>> hubs;
    for (const std::string& name : names_) {
      if (!name.starts_with("usb")) continue;
      if (const auto bus = parseNumber(std::string_view(name).substr(3))) {
        hubs.emplace_back(*bus, name);
      }
    }
    std::sort(hubs.begin(), hubs.end());
    return hubs;
  }

  // The ports of the hub `name`, whose children are named `childPrefix` + port number.
  std::vector<UsbPort> ports(const std::string& name, const std::string& childPrefix) const {
    std::vector<UsbPort> list;
    const auto count = readNumber(devicesDir_ / name / "maxchild");
    if (!count || *count > kMaxPorts) return list;
    list.resize(*count);
    for (unsigned p = 1; p <= *count; ++p) {
      const std::string child = childPrefix + std::to_string(p);
      if (names_.contains(child)) list[p - 1] = attached(child);
    }
    return list;
  }

private:
  UsbPort attached(const std::string& name) const {
    UsbPort port;
    if (readNumber(devicesDir_ / name / "bDeviceClass", 16) == kHubClass) {
      port.attached = UsbPort::Attached::Hub;
      port.ports = ports(name, name + ".");
      return port;
    }
    port.attached = UsbPort::Attached::Device;
    port.deviceKey = name;
    // The device's first disk is its lowest unit; units come sorted by letter, not by address.
    const LogicalUnit* first = nullptr;
    for (const LetteredUnit& lettered : units_) {
      if (lettered.unit.deviceKey != name) continue;
      if (first == nullptr || lettered.unit.address < first->address) {
        first = &lettered.unit;
        port.firstVolumeLetter = lettered.letter;
      }
    }
    return port;
  }

  fs::path devicesDir_;
  std::vector<LetteredUnit> units_;
  std::set<std::string> names_;
};

} // namespace

UsbTopology SysfsUsbTree::snapshot() const {
  letters_.refresh();
  const TreeReader reader(letters_.config().sysfsRoot, letters_.units());
  UsbTopology topology;
  int index = 0;
  for (const auto& [bus, name] : reader.rootHubs()) {
    if (index == kMaxControllers) break;
    HostController controller;
    controller.index = index++;
    controller.rootPorts = reader.ports(name, std::to_string(bus) + "-");
    topology.controllers.push_back(std::move(controller));
  }
  return topology;
}

} // namespace tarvix::platform::linux_usb
