// Which udev block events become arrivals and removals, and how listeners are handed events.
#include "platform/linux/usb/linux_drives.h"
#include "platform/linux/usb/udev_monitor.h"
#include "sysfs_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarvix::platform::linux_usb {
namespace {

namespace fs = std::filesystem;
using testing::configFor;
using testing::recordedTree;

constexpr std::string_view kUsbDisk =
    "/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host7/target7:0:0/7:0:0:0/block/sdg";
constexpr std::string_view kSataDisk =
    "/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda";

TEST(LinuxUsbBlockEvents, OnlyStorageBelowUsbCounts) {
  struct Case {
    std::string_view action, devpath;
    bool mediaChange, hasMedia;
    std::optional<DeviceEvent> expected;
  };
  const std::string usbPartition = std::string(kUsbDisk) + "/sdg1";
  const Case cases[] = {
      {"add", kUsbDisk, false, false, DeviceEvent::Arrival},
      {"remove", kUsbDisk, false, false, DeviceEvent::Removal},
      {"add", usbPartition, false, true, DeviceEvent::Arrival},
      {"change", kUsbDisk, true, true, DeviceEvent::Arrival},  // a card goes in
      {"change", kUsbDisk, true, false, DeviceEvent::Removal}, // a card comes out
      {"change", kUsbDisk, false, true, std::nullopt},         // attributes only
      {"bind", kUsbDisk, false, false, std::nullopt},
      {"add", kSataDisk, false, true, std::nullopt},
      {"add", "/devices/virtual/block/loop3", false, true, std::nullopt},
      {"add", "/devices/platform/usbfoo/block/sdz", false, true, std::nullopt},
      {"add", "", false, false, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(classifyBlockEvent(c.action, c.devpath, c.mediaChange, c.hasMedia), c.expected)
        << c.action << " " << c.devpath;
  }
}

TEST(LinuxUsbUdevMonitorThread, StartsAndStopsCleanly) {
  UdevMonitor monitor([](DeviceEvent) {});
  if (!monitor.start()) GTEST_SKIP() << "udev cannot be listened to here";
  EXPECT_TRUE(monitor.running());
  EXPECT_TRUE(monitor.start()) << "a second start keeps the running monitor";
  monitor.stop();
  EXPECT_FALSE(monitor.running());
  monitor.stop();
  EXPECT_TRUE(monitor.start()) << "restartable";
} // the destructor stops it again

TEST(LinuxUsbDriveEvents, ListenerGetsEventsUntilItIsReplaced) {
  CapturingTrace trace;
  LetterTable table(configFor(recordedTree("station")));
  std::vector<DeviceEvent> first, second;
  {
    LinuxDrives drives(table, trace);
    drives.setEventListener([&](DeviceEvent e) { first.push_back(e); });
    drives.deliver(DeviceEvent::Arrival);
    EXPECT_EQ(table.mask(), drives.logicalDriveMask()) << "letters are read before telling";
    drives.setEventListener([&](DeviceEvent e) { second.push_back(e); });
    drives.deliver(DeviceEvent::Removal);
    drives.setEventListener({});
    drives.deliver(DeviceEvent::Arrival);
  }
  EXPECT_EQ(first, std::vector{DeviceEvent::Arrival});
  EXPECT_EQ(second, std::vector{DeviceEvent::Removal});
  // The monitor either runs or said once why it does not.
  EXPECT_LE(trace.lines().size(), 1U);
}

TEST(LinuxUsbDriveEvents, AListenerMayReplaceItself) {
  CapturingTrace trace;
  LetterTable table(configFor(recordedTree("station")));
  LinuxDrives drives(table, trace);
  int calls = 0;
  drives.setEventListener([&](DeviceEvent) {
    ++calls;
    drives.setEventListener({});
  });
  drives.deliver(DeviceEvent::Arrival);
  drives.deliver(DeviceEvent::Arrival);
  EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace tarvix::platform::linux_usb
