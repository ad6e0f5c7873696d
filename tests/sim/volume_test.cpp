// The volume operations of a card unit: where writes land, the partition table of a partitioned
// card, and refusals for units that have no volume.
#include "sim/sim_fixture.h"

#include <cerrno>

namespace tarvix::sim_test {
namespace {

using namespace channel;

TEST_F(FarmTest, VolumeWritesLandOnThePublicDiskAfterTheHiddenAreas) {
  load(oneReader("VQ301C-A-2LUN", R"("cardSectors": 4096)"));
  {
    auto holder = openReader("r1");
    ASSERT_TRUE(SetBinAreaSize(*holder, 10));
    ASSERT_TRUE(SetCDRomSize(*holder, 20));
    ASSERT_TRUE(ReInitialCard(*holder));
  }
  auto volume = farm->volumes().open("D:");
  ASSERT_TRUE(volume);
  platform::VolumeGeometry geometry;
  ASSERT_TRUE(volume->geometry(geometry));
  EXPECT_EQ(geometry.bytesPerSector, 512u);
  EXPECT_EQ(geometry.sectorsPerTrack, 63u);
  EXPECT_EQ(geometry.tracksPerCylinder, 255u);
  std::uint32_t hidden = 99;
  ASSERT_TRUE(volume->hiddenSectors(hidden));
  EXPECT_EQ(hidden, 0u);
  const auto data = pattern(1024, 6);
  ASSERT_TRUE(volume->writeAt(512, data));
  EXPECT_EQ(readFile(farm->cardImagePath("r1"), (30 + 1) * 512, 1024), data);
  const auto extent = farm->publicDisk('D');
  ASSERT_TRUE(extent);
  EXPECT_EQ(extent->firstByte, 30u * 512);
  EXPECT_EQ(extent->bytes, (4096u - 31) * 512);

  const std::uint64_t end = (4096u - 31) * 512;
  EXPECT_TRUE(volume->writeAt(end - 1024, data));
  EXPECT_FALSE(volume->writeAt(end - 512, data));
  EXPECT_EQ(volume->lastError(), ENOSPC);
  EXPECT_FALSE(volume->writeAt(100, data)) << "not on a sector boundary";
  EXPECT_FALSE(volume->setPartitionType(0x0C)) << "no partition table";
  EXPECT_TRUE(volume->dismount());
  EXPECT_FALSE(farm->volumes().open("E:")) << "the CD-ROM unit has no volume to format";
}

// As under the kernel: a volume keeps the partition it was opened on, and the layout is read
// again only while no volume on a partition is open.
TEST_F(FarmTest, APartitionedCardKeepsItsPartitionUntilTheLayoutIsReadAgain) {
  load(oneReader("VQ301A", R"("cardSectors": 4096, "partitioned": true)"));
  auto volume = farm->volumes().open("D:");
  ASSERT_TRUE(volume);
  std::uint32_t hidden = 0;
  ASSERT_TRUE(volume->hiddenSectors(hidden));
  EXPECT_EQ(hidden, 63u);
  ASSERT_TRUE(volume->setPartitionType(0x0B));
  EXPECT_EQ(readFile(farm->cardImagePath("r1"), 446 + 4, 1)[0], 0x0B);
  const auto data = pattern(512, 8);
  EXPECT_FALSE(volume->writeAt((4095 - 63) * 512, data)) << "past the partition's end";
  EXPECT_EQ(volume->lastError(), ENOSPC);

  ASSERT_TRUE(volume->dropPartitionLayout());
  const auto mbr = readFile(farm->cardImagePath("r1"), 446, 66);
  EXPECT_TRUE(std::all_of(mbr.begin(), mbr.end(), [](auto b) { return b == 0; }));
  ASSERT_TRUE(volume->writeAt(0, data));
  EXPECT_EQ(readFile(farm->cardImagePath("r1"), 63 * 512, 512), data) << "still the partition";
  EXPECT_FALSE(farm->volumes().rereadPartitionLayout("D:")) << "its partition is open";
  volume.reset();
  ASSERT_TRUE(farm->volumes().rereadPartitionLayout("D:"));
  volume = farm->volumes().open("D:");
  ASSERT_TRUE(volume);
  ASSERT_TRUE(volume->hiddenSectors(hidden));
  EXPECT_EQ(hidden, 0u);
  EXPECT_TRUE(volume->writeAt((4095 - 1) * 512, data)) << "the whole disk";

  // A volume boot sector at sector 0 is no partition table, though it ends in 55 AA too; and an
  // open whole disk does not stand in the way of the re-read.
  std::vector<std::uint8_t> boot(512);
  boot[0] = 0xEB;
  boot[12] = 0x02;
  boot[446 + 4] = 0x0C;
  boot[446 + 8] = 63;
  boot[446 + 12] = 1;
  boot[510] = 0x55;
  boot[511] = 0xAA;
  ASSERT_TRUE(volume->writeAt(0, boot));
  ASSERT_TRUE(farm->volumes().rereadPartitionLayout("D:"));
  EXPECT_EQ(farm->publicDisk('D')->hiddenSectors, 0u);
  EXPECT_TRUE(volume->dropPartitionLayout());
  EXPECT_EQ(readFile(farm->cardImagePath("r1"), 510, 2)[0], 0x55) << "boot sector left alone";
}

TEST_F(FarmTest, VolumesOfAPulledOrEmptyReaderFail) {
  load(farmJson(R"({ "port": 1, "reader": { "id": "r1", "model": "VQ301A", "cardSectors": 4096 } },
                   { "port": 2, "reader": { "id": "r2", "model": "VQ301A" } })"));
  EXPECT_FALSE(farm->volumes().open("E:")) << "no card";
  EXPECT_FALSE(farm->volumes().open("Q:"));
  auto volume = farm->volumes().open("d:");
  ASSERT_TRUE(volume);
  ASSERT_TRUE(farm->pull("r1"));
  const auto data = pattern(512, 1);
  EXPECT_FALSE(volume->writeAt(0, data));
  EXPECT_EQ(volume->lastError(), ENODEV);
  platform::VolumeGeometry geometry;
  EXPECT_FALSE(volume->geometry(geometry));
  EXPECT_FALSE(farm->publicDisk('D'));
}

} // namespace
} // namespace tarvix::sim_test
