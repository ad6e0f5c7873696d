// Which units get letters, which letters, and what stands behind them, on the recorded trees.
#include "platform/linux/usb/letter_table.h"
#include "platform/linux/usb/linux_drives.h"
#include "sysfs_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <thread>

namespace tarvix::platform::linux_usb {
namespace {

namespace fs = std::filesystem;
using testing::configFor;
using testing::recordedTree;
using testing::ScratchDir;

std::map<char, std::string> namesByLetter(const LetterTable& table) {
  std::map<char, std::string> names;
  for (const LetteredUnit& lettered : table.units())
    names[lettered.letter] = lettered.unit.name;
  return names;
}

constexpr std::uint32_t bits(char first, char last) {
  std::uint32_t mask = 0;
  for (char c = first; c <= last; ++c)
    mask |= 1U << (c - 'A');
  return mask;
}

TEST(LinuxUsbLetters, UsbUnitsTakeLettersFromDInScsiAddressOrder) {
  LetterTable table(configFor(recordedTree("station")));
  table.refresh();
  // The CD-ROM LUN (sr1) follows its reader's card LUNs, not the other readers' disks. No
  // letter for the SATA disk sda, the SATA DVD drive sr0, the network disk sdb or the USB disk
  // sdl stacked under a device-mapper device.
  const std::map<char, std::string> expected = {
      {'D', "sdc"}, {'E', "sdd"}, {'F', "sde"}, {'G', "sdf"}, {'H', "sdg"},
      {'I', "sdh"}, {'J', "sr1"}, {'K', "sdi"}, {'L', "sdj"}, {'M', "sdk"}};
  EXPECT_EQ(namesByLetter(table), expected);
  EXPECT_EQ(table.mask(), bits('D', 'M'));
}

TEST(LinuxUsbLetters, ASparedDiskKeepsNoLetter) {
  // As when the system itself runs from the USB disk sdk (8:160), or from its partition.
  for (const BlockDeviceNumber spared : {BlockDeviceNumber{8, 160}, BlockDeviceNumber{8, 161}}) {
    auto config = configFor(recordedTree("station"));
    config.spared = {spared};
    LetterTable table(config);
    table.refresh();
    EXPECT_EQ(table.mask(), bits('D', 'L')) << spared.minor;
    for (const LetteredUnit& lettered : table.units())
      EXPECT_NE(lettered.unit.name, "sdk");
  }
}

TEST(LinuxUsbLetters, KeptWhilePresentAndTheLowestFreeLetterGoesToANewcomer) {
  ScratchDir scratch;
  const auto root = scratch.copyTree("station");
  LetterTable table(configFor(root));
  table.refresh();
  auto before = namesByLetter(table);

  // The reader with letter E is pulled and another one is plugged in elsewhere.
  scratch.copyTree("station_replugged");
  table.refresh();
  auto after = namesByLetter(table);
  EXPECT_EQ(after['E'], "sdm");
  before.erase('E');
  after.erase('E');
  EXPECT_EQ(after, before);

  // Pulled and nothing new: the letter is free and the mask says so.
  fs::remove(root / "class/block/sdm");
  table.refresh();
  EXPECT_EQ(table.mask(), bits('D', 'M') & ~bits('E', 'E'));
  EXPECT_FALSE(table.find('E'));

  // sysfs unreadable: every letter goes.
  fs::remove_all(root);
  table.refresh();
  EXPECT_EQ(table.mask(), 0U);
}

TEST(LinuxUsbLetters, ANameReusedByAnotherDeviceIsANewUnit) {
  ScratchDir scratch;
  const auto root = scratch.copyTree("station");
  LetterTable table(configFor(root));
  table.refresh();
  ASSERT_EQ(table.find('D')->name, "sdc");
  // The same place now holds a different device number: not the unit that had D.
  std::ofstream(root / "class/block/sdc/dev") << "8:240\n";
  table.refresh();
  const auto unit = table.find('D');
  ASSERT_TRUE(unit);
  EXPECT_EQ(unit->dev, (BlockDeviceNumber{8, 240}));
}

TEST(LinuxUsbDrives, InspectionGivesTypeDeviceNumberAndUsbDevice) {
  CapturingTrace trace;
  LetterTable table(configFor(recordedTree("station")));
  LinuxDrives drives(table, trace);
  EXPECT_EQ(drives.logicalDriveMask(), bits('D', 'M'));

  const auto card = drives.inspect('F');
  ASSERT_TRUE(card);
  EXPECT_EQ(card->type, DriveType::Removable);
  EXPECT_EQ(card->deviceKey, "1-1.4.4") << "hub port 7 is the inner chip's port 4";

  // Three letters of one reader share its key and are ordered by device number as by LUN.
  const auto lun0 = drives.inspect('H'), lun1 = drives.inspect('I'), cd = drives.inspect('J');
  ASSERT_TRUE(lun0 && lun1 && cd);
  EXPECT_EQ(lun0->deviceKey, "1-3");
  EXPECT_EQ(lun1->deviceKey, "1-3");
  EXPECT_EQ(cd->deviceKey, "1-3");
  EXPECT_EQ(cd->type, DriveType::CdRom);
  EXPECT_LT(lun0->deviceNumber, lun1->deviceNumber);
  EXPECT_LT(lun1->deviceNumber, cd->deviceNumber);
  // Units of different readers never share a number.
  EXPECT_NE(drives.inspect('G')->deviceNumber, lun0->deviceNumber);

  for (const char absent : {'A', 'C', 'N', 'Z', '?', '\0'}) {
    EXPECT_FALSE(drives.inspect(absent)) << absent;
  }
}

TEST(LinuxUsbDrives, AFixedUsbDiskIsFixed) {
  ScratchDir scratch;
  const auto root = scratch.copyTree("station");
  fs::remove_all(root / "class/block/sdl1/holders");
  LetterTable table(configFor(root));
  CapturingTrace trace;
  LinuxDrives drives(table, trace);
  const auto disk = drives.inspect('N');
  ASSERT_TRUE(disk);
  EXPECT_EQ(disk->type, DriveType::Fixed);
  EXPECT_EQ(disk->deviceKey, "2-4");
}

TEST(LinuxUsbLetters, RefreshesAndLookupsFromManyThreadsAgree) {
  LetterTable table(configFor(recordedTree("station")));
  std::vector<std::thread> threads;
  std::atomic<int> wrong = 0;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        table.refresh();
        const auto unit = table.find('J');
        if (!unit || unit->name != "sr1") ++wrong;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0);
}

} // namespace
} // namespace tarvix::platform::linux_usb
