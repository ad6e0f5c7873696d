// The USB tree read from the recorded sysfs trees.
#include "platform/linux/usb/sysfs_usb_tree.h"
#include "sysfs_fixture.h"

#include <gtest/gtest.h>

#include <fstream>

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

TEST(LinuxUsbTree, TwoControllersWithFourRootPortsEach) {
  const UsbTopology topology = snapshotOf(recordedTree("station"));
  ASSERT_EQ(topology.controllers.size(), 2U);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(topology.controllers[i].index, i);
    EXPECT_EQ(topology.controllers[i].rootPorts.size(), 4U);
  }
  const auto& first = topology.controllers[0].rootPorts;
  EXPECT_EQ(first[0].attached, Attached::Hub);
  EXPECT_EQ(first[1].attached, Attached::Hub);
  EXPECT_EQ(first[2].attached, Attached::Device);
  EXPECT_EQ(first[3].attached, Attached::Nothing);
}

// As a real kernel shows an xHCI controller (seen under QEMU): its SuperSpeed root hub is a
// second bus, counted as a controller of its own after the first, so a SuperSpeed device in root
// port 8 has the walk's ordinal 16.
TEST(LinuxUsbTree, AnXhciFunctionIsTwoBusesOfEightRootPorts) {
  const UsbTopology topology = snapshotOf(recordedTree("xhci"));
  ASSERT_EQ(topology.controllers.size(), 2U);
  EXPECT_EQ(topology.controllers[0].rootPorts.size(), 8U);
  ASSERT_EQ(topology.controllers[1].rootPorts.size(), 8U);
  EXPECT_EQ(topology.controllers[0].rootPorts[3].deviceKey, "1-4");
  EXPECT_EQ(topology.controllers[0].rootPorts[3].firstVolumeLetter, 'D');
  EXPECT_EQ(topology.controllers[1].rootPorts[7].attached, Attached::Device);
  EXPECT_EQ(topology.controllers[1].rootPorts[7].deviceKey, "2-8");
}

TEST(LinuxUsbTree, SevenPortHubOfTwoChainedChips) {
  const UsbTopology topology = snapshotOf(recordedTree("station"));
  const UsbPort& outer = topology.controllers[0].rootPorts[0];
  ASSERT_EQ(outer.ports.size(), 4U);
  EXPECT_EQ(outer.ports[0].deviceKey, "1-1.1");
  EXPECT_EQ(outer.ports[0].firstVolumeLetter, 'D');
  EXPECT_EQ(outer.ports[1].firstVolumeLetter, 'E');
  EXPECT_EQ(outer.ports[2].attached, Attached::Nothing);
  const UsbPort& inner = outer.ports[3];
  ASSERT_EQ(inner.attached, Attached::Hub);
  ASSERT_EQ(inner.ports.size(), 4U);
  for (int p = 0; p < 3; ++p)
    EXPECT_EQ(inner.ports[p].attached, Attached::Nothing);
  EXPECT_EQ(inner.ports[3].deviceKey, "1-1.4.4");
  EXPECT_EQ(inner.ports[3].firstVolumeLetter, 'F');
}

TEST(LinuxUsbTree, DevicesCarryTheLetterOfTheirFirstUnit) {
  const UsbTopology topology = snapshotOf(recordedTree("station"));
  const auto& first = topology.controllers[0].rootPorts;
  const auto& second = topology.controllers[1].rootPorts;
  EXPECT_EQ(first[1].ports[2].deviceKey, "1-2.3");
  EXPECT_EQ(first[1].ports[2].firstVolumeLetter, 'G');
  EXPECT_EQ(first[2].deviceKey, "1-3") << "two card LUNs and a CD-ROM LUN";
  EXPECT_EQ(first[2].firstVolumeLetter, 'H');
  EXPECT_EQ(second[0].ports[0].firstVolumeLetter, 'K');
  EXPECT_EQ(second[1].attached, Attached::Hub) << "a fourth hub is still a hub";
  EXPECT_EQ(second[1].ports[1].deviceKey, "2-2.2");
  EXPECT_EQ(second[1].ports[1].firstVolumeLetter, 'L') << "a reader without a card";
  EXPECT_EQ(second[2].firstVolumeLetter, 'M');
  EXPECT_EQ(second[3].attached, Attached::Device);
  EXPECT_EQ(second[3].deviceKey, "2-4");
  EXPECT_EQ(second[3].firstVolumeLetter, 0) << "a USB disk that keeps no letter";
}

TEST(LinuxUsbTree, AHubWithoutAReadablePortCountHasNoPorts) {
  ScratchDir scratch;
  const auto root = scratch.copyTree("station");
  fs::remove(root / "bus/usb/devices/2-2/maxchild");
  std::ofstream(root / "bus/usb/devices/2-1/maxchild") << "4096\n";
  const UsbTopology topology = snapshotOf(root);
  EXPECT_EQ(topology.controllers[1].rootPorts[0].attached, Attached::Hub);
  EXPECT_TRUE(topology.controllers[1].rootPorts[0].ports.empty()) << "absurd port count";
  EXPECT_EQ(topology.controllers[1].rootPorts[1].attached, Attached::Hub);
  EXPECT_TRUE(topology.controllers[1].rootPorts[1].ports.empty());
  EXPECT_EQ(topology.controllers[1].rootPorts.size(), 4U);
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
