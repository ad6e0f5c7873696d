// The USB tree read from the recorded sysfs trees.
#include "platform/linux/usb/sysfs_usb_tree.h"
#include "sysfs_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace tarvix::platform::linux_usb {
namespace {

namespace fs = std::filesystem;
using testing::configFor;
using testing::recordedTree;
using testing::ScratchDir;
using Attached = UsbPort::Attached;

UsbTopology snapshotOf(const fs::path& root) {
  LetterTable table(configFor(root));
  return SysfsUsbTree(table).snapshot();
}

// The tree one port a line, "controller.port.port: what is in it"; empty ports are left out.
std::string shown(const UsbTopology& topology) {
  std::string out;
  const std::function<void(const UsbPort&, const std::string&)> port = [&](const UsbPort& p,
                                                                           const std::string& at) {
    if (p.attached == Attached::Nothing) return;
    out += at + ": ";
    if (p.attached == Attached::Hub) {
      out += "hub of " + std::to_string(p.ports.size()) + "\n";
    } else {
      out += p.deviceKey + " " + (p.firstVolumeLetter ? std::string(1, p.firstVolumeLetter) : "-") +
             "\n";
    }
    for (std::size_t i = 0; i < p.ports.size(); ++i)
      port(p.ports[i], at + "." + std::to_string(i + 1));
  };
  for (const auto& c : topology.controllers) {
    out += std::to_string(c.index) + ": " + std::to_string(c.rootPorts.size()) + " root ports\n";
    for (std::size_t i = 0; i < c.rootPorts.size(); ++i)
      port(c.rootPorts[i], std::to_string(c.index) + "." + std::to_string(i + 1));
  }
  return out;
}

TEST(LinuxUsbTree, RecordedTreesAsTheKernelShowsThem) {
  const std::pair<const char*, const char*> trees[] = {
      // Two controllers of four root ports: a seven-port hub of two chained chips (the inner chip
      // in the outer chip's port 4, so hub port 7 is 1.4.4), a reader of two card LUNs and a
      // CD-ROM LUN (1-3), a fourth hub that is still a hub, a reader without a card (L), and a
      // USB disk that keeps no letter.
      {"station", "0: 4 root ports\n0.1: hub of 4\n0.1.1: 1-1.1 D\n0.1.2: 1-1.2 E\n"
                  "0.1.4: hub of 4\n0.1.4.4: 1-1.4.4 F\n0.2: hub of 4\n0.2.3: 1-2.3 G\n0.3: 1-3 H\n"
                  "1: 4 root ports\n1.1: hub of 4\n1.1.1: 2-1.1 K\n1.2: hub of 4\n1.2.2: 2-2.2 L\n"
                  "1.3: 2-3 M\n1.4: 2-4 -\n"},
      // As a real kernel shows an xHCI controller (seen under QEMU): its SuperSpeed root hub is a
      // second bus, counted as a controller of its own after the first, so a SuperSpeed device in
      // root port 8 has the walk's ordinal 16.
      {"xhci", "0: 8 root ports\n0.4: 1-4 D\n1: 8 root ports\n1.8: 2-8 E\n"},
  };
  for (const auto& [tree, expected] : trees)
    EXPECT_EQ(shown(snapshotOf(recordedTree(tree))), expected) << tree;
}

TEST(LinuxUsbTree, AHubWithoutAReadablePortCountHasNoPorts) {
  ScratchDir scratch;
  const auto root = scratch.copyTree("station");
  fs::remove(root / "bus/usb/devices/2-2/maxchild");
  std::ofstream(root / "bus/usb/devices/2-1/maxchild") << "4096\n"; // absurd
  const std::string tree = shown(snapshotOf(root));
  EXPECT_NE(tree.find("1: 4 root ports\n1.1: hub of 0\n1.2: hub of 0\n1.3: 2-3 M\n"),
            std::string::npos)
      << tree;
}

// Plain directories stand for the links: usb1 to usb12, each with one port, a device on usb2's.
TEST(LinuxUsbTree, ControllersInNumericBusOrderAndAtMostTen) {
  ScratchDir scratch;
  const fs::path devices = scratch.path() / "bus/usb/devices";
  fs::create_directories(scratch.path() / "devices");
  for (int bus = 12; bus >= 1; --bus) {
    fs::create_directories(devices / ("usb" + std::to_string(bus)));
    std::ofstream(devices / ("usb" + std::to_string(bus)) / "maxchild") << "1\n";
  }
  fs::create_directories(devices / "2-1");
  std::ofstream(devices / "2-1/bDeviceClass") << "00\n";
  const UsbTopology topology = snapshotOf(scratch.path());
  ASSERT_EQ(topology.controllers.size(), 10U);
  EXPECT_EQ(topology.controllers[1].rootPorts[0].deviceKey, "2-1") << "usb2 before usb10";
  EXPECT_EQ(topology.controllers[9].index, 9);
  EXPECT_TRUE(snapshotOf(scratch.path() / "missing").controllers.empty());
}

} // namespace
} // namespace tarvix::platform::linux_usb
