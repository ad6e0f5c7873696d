#include "fat/fat_format.h"
#include "fat/test_support.h"
#include "platform/files/label_codec.h"
#include "platform/files/mbr.h"
#include "platform/linux/volume/block_volume.h"
#include "platform/linux/volume/image_volume.h"
#include "platform/linux/volume/mounts.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <locale.h>
#include <sys/mount.h>
#include <unistd.h>

namespace tarvix::platform::linux_volume {

using files::dropLayout;
using files::entryStartingAt;
using files::hasBootSignature;
using files::localeLabelBytes;
using files::setPartitionType;
namespace {

namespace fs = std::filesystem;

using fat::testing::ImageFile;
using fat::testing::mbrWithEntry;

TEST(Mbr, SetsTheTypeOfAnExistingEntryOnly) {
  auto mbr = mbrWithEntry(2, 2048, 10000);
  EXPECT_EQ(entryStartingAt(mbr, 2048), 2u);
  EXPECT_EQ(entryStartingAt(mbr, 63), 0u);
  EXPECT_FALSE(setPartitionType(mbr, 1, 0x0C)); // empty entry
  EXPECT_FALSE(setPartitionType(mbr, 5, 0x0C)); // no fifth primary entry
  EXPECT_TRUE(setPartitionType(mbr, 2, 0x0C));
  EXPECT_EQ(mbr[446 + 16 + 4], 0x0C);

  auto bare = mbrWithEntry(1, 63, 100);
  bare[511] = 0; // no signature: not a partition table
  const auto before = bare;
  EXPECT_FALSE(setPartitionType(bare, 1, 0x0C));
  EXPECT_EQ(entryStartingAt(bare, 63), 0u);
  EXPECT_EQ(bare, before);
}

TEST(Mbr, DropClearsEntriesAndSignatureAndNothingElse) {
  auto mbr = mbrWithEntry(1, 63, 100);
  EXPECT_TRUE(dropLayout(mbr));
  EXPECT_TRUE(std::all_of(mbr.begin(), mbr.begin() + 446, [](auto b) { return b == 0x90; }));
  EXPECT_TRUE(std::all_of(mbr.begin() + 446, mbr.end(), [](auto b) { return b == 0; }));
  EXPECT_FALSE(dropLayout(mbr));
}

TEST(Mounts, FindsEveryMountOfTheDevicesLastFirst) {
  const std::string info = "22 1 0:21 / /proc rw - proc proc rw\n"
                           "40 1 8:17 / /media/card\\040one rw - vfat /dev/sdb1 rw\n"
                           "41 1 8:18 / /media/two rw - vfat /dev/sdb2 rw\n"
                           "42 40 8:17 / /mnt/again rw - vfat /dev/sdb1 rw\n"
                           "43 1 8:1 / /boot rw - ext4 /dev/sda1 rw\n";
  EXPECT_EQ(mountPointsOf(info, {"8:17", "8:18"}),
            (std::vector<std::string>{"/mnt/again", "/media/two", "/media/card one"}));
  EXPECT_TRUE(mountPointsOf(info, {"8:16"}).empty());
}

// Runs the label conversion under the named locale on this thread only.
std::string labelIn(const char* locale, std::string_view utf8) {
  locale_t loc = newlocale(LC_CTYPE_MASK, locale, static_cast<locale_t>(nullptr));
  if (!loc) return "<no locale>";
  const locale_t old = uselocale(loc);
  std::string bytes = localeLabelBytes(utf8);
  uselocale(old);
  freelocale(loc);
  return bytes;
}

TEST(Label, ConvertsInTheThreadsCharacterSet) {
  struct Case {
    const char* locale;
    std::string_view in;
    std::string_view out;
  };
  for (const Case c : {
           Case{"C", "Public Disk", "Public Disk"},  // as typed, no case change
           Case{"C", "ABCDEFGHIJKL", "ABCDEFGHIJK"}, // cut at 11 bytes
           Case{"C", "Disk\xE2\x82\xACX", "Disk"},   // the euro sign has no ASCII form
           Case{"C.UTF-8", "\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84", // six 2-byte Ä
                "\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84"}, // five fit, never half of one
           Case{"C.UTF-8",
                "AB\xFF"
                "CD",
                "AB"}, // invalid UTF-8 ends the label
       }) {
    EXPECT_EQ(labelIn(c.locale, c.in), c.out) << c.locale << " " << c.in;
  }
}

TEST_F(ImageFile, ImageVolumeAtAnOffsetIsAPartition) {
  const auto path = image(4 << 20, mbrWithEntry(1, 63, 8000));
  auto whole = ImageVolume::open(path);
  ASSERT_TRUE(whole);
  EXPECT_FALSE(whole->setPartitionType(0x0C)); // the whole disk has no entry of its own
  auto part = ImageVolume::open(path, 63 * 512);
  ASSERT_TRUE(part);
  std::uint32_t hidden = 0;
  EXPECT_TRUE(part->hiddenSectors(hidden));
  EXPECT_EQ(hidden, 63u);
  EXPECT_TRUE(part->setPartitionType(0x0C));
  EXPECT_EQ(head(path)[446 + 4], 0x0C);

  const std::uint8_t sector[512] = {1};
  EXPECT_TRUE(part->writeAt(512, sector));
  EXPECT_EQ(part->bytesWritten(), 512u);
  std::ifstream in(path, std::ios::binary);
  in.seekg(64 * 512);
  EXPECT_EQ(in.get(), 1);

  EXPECT_TRUE(part->dropPartitionLayout());
  EXPECT_EQ(head(path)[510], 0);
  EXPECT_FALSE(part->setPartitionType(0x0C)); // no table any more
  EXPECT_TRUE(part->dropPartitionLayout());   // nothing left to drop is no failure
}

TEST(ImageVolume, OpeningAMissingFileFails) {
  int error = 0;
  EXPECT_FALSE(ImageVolume::open("/nonexistent/card.img", 0, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(BlockVolume::open("/dev/null", &error)); // not a block device
  EXPECT_EQ(error, ENOTBLK);
}

// The block-device operations on a loop device; needs the rights to set one up.
class LoopDevice : public ImageFile {
protected:
  void SetUp() override {
    image_ = image(64 << 20, mbrWithEntry(1, 2048, 100000));
    const auto setUp = tarvix::testing::shell("losetup -f --show -P " + image_);
    loop_ = setUp.status == 0 ? setUp.output.substr(0, setUp.output.find('\n')) : "";
    if (loop_.empty()) GTEST_SKIP() << "no loop device available";
    for (int i = 0; i < 10 && !fs::exists(loop_ + "p1"); ++i)
      ::usleep(20000);
  }
  void TearDown() override {
    if (!loop_.empty()) (void)tarvix::testing::shell("losetup -d " + loop_);
  }
  std::string image_;
  std::string loop_;
};

TEST_F(LoopDevice, PartitionOperations) {
  if (!fs::exists(loop_ + "p1")) GTEST_SKIP() << "the kernel made no partition device";
  {
    auto part = BlockVolume::open(loop_ + "p1");
    ASSERT_TRUE(part);
    std::uint32_t hidden = 0;
    EXPECT_TRUE(part->hiddenSectors(hidden));
    EXPECT_EQ(hidden, 2048u);
    EXPECT_TRUE(part->setPartitionType(0x0C));
    EXPECT_TRUE(part->dismount()); // nothing mounted
  }
  EXPECT_EQ(head(image_)[446 + 4], 0x0C);
  // What the format step relies on: the kernel keeps the layout while a partition is open, and an
  // open whole disk (the step's pass-through handle) is no obstacle.
  auto disk = BlockVolume::open(loop_);
  ASSERT_TRUE(disk);
  EXPECT_TRUE(disk->dropPartitionLayout());
  int error = 0;
  {
    auto part = BlockVolume::open(loop_ + "p1");
    ASSERT_TRUE(part);
    EXPECT_FALSE(rereadPartitionLayout(loop_, error));
    EXPECT_EQ(error, EBUSY);
  }
  EXPECT_TRUE(rereadPartitionLayout(loop_, error)) << error;
  EXPECT_FALSE(fs::exists(loop_ + "p1"));
}

TEST_F(LoopDevice, WholeDiskOperationsAndAFormatFsckAccepts) {
  auto disk = BlockVolume::open(loop_);
  ASSERT_TRUE(disk);
  VolumeGeometry g;
  disk->geometry(g); // a loop device has no CHS geometry; the sector size is still read
  EXPECT_EQ(g.bytesPerSector, 512u);
  std::uint32_t hidden = 99;
  EXPECT_TRUE(disk->hiddenSectors(hidden));
  EXPECT_EQ(hidden, 0u);
  EXPECT_FALSE(disk->setPartitionType(0x0C)); // the whole disk has no entry of its own
  EXPECT_TRUE(disk->dropPartitionLayout());

  // The card used whole, as the format step leaves it.
  fat::testing::RecordingClock clock;
  CapturingTrace trace;
  fat::CFAT32Format formatter(clock, trace);
  formatter.setLabel("LOOP");
  EXPECT_TRUE(formatter.format_volume(*disk, 131072));
  disk.reset();
  EXPECT_EQ(std::system(("fsck.fat -n " + loop_ + " >/dev/null").c_str()), 0);
}

TEST_F(LoopDevice, DismountTakesDownEveryMount) {
  auto disk = BlockVolume::open(loop_);
  ASSERT_TRUE(disk);
  fat::testing::RecordingClock clock;
  CapturingTrace trace;
  ASSERT_TRUE(fat::CFAT32Format(clock, trace).format_volume_fat16(*disk, 65536));
  const auto point = (dir_.path() / "mnt").string();
  fs::create_directory(point);
  if (::mount(loop_.c_str(), point.c_str(), "vfat", 0, nullptr) != 0) {
    GTEST_SKIP() << "cannot mount vfat here";
  }
  EXPECT_TRUE(disk->dismount());
  EXPECT_NE(::umount2(point.c_str(), 0), 0); // already gone
}

} // namespace
} // namespace tarvix::platform::linux_volume
