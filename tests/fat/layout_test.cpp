#include "fat/layout.h"
#include "fat/volume_id.h"

#include <gtest/gtest.h>

namespace tarvix::fat {
namespace {

struct Fat32Case {
  std::uint32_t totalSectors;
  std::uint64_t sizeMiB;
  std::uint8_t sectorsPerCluster;
  std::uint32_t fatSize;      // 0: not checked
  std::uint32_t clusterCount; // 0: not checked
  std::uint32_t systemArea;   // 0: not checked
};

class Fat32Quantities : public ::testing::TestWithParam<Fat32Case> {};

TEST_P(Fat32Quantities, MatchTheLayoutRules) {
  const auto& c = GetParam();
  const Fat32Layout l = fat32Layout(c.totalSectors, 512);
  EXPECT_EQ(l.sizeMiB, c.sizeMiB);
  EXPECT_EQ(l.sectorsPerCluster, c.sectorsPerCluster);
  if (c.fatSize) {
    EXPECT_EQ(l.fatSize, c.fatSize);
  }
  if (c.clusterCount) {
    EXPECT_EQ(l.clusterCount, c.clusterCount);
  }
  if (c.systemArea) {
    EXPECT_EQ(l.systemAreaSectors, c.systemArea);
  }
  EXPECT_LE(l.fatNeeded, l.fatSize) << "FAT too small for " << c.totalSectors;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, Fat32Quantities,
    ::testing::Values(Fat32Case{65537, 32, 1, 504, 64497, 32 + 1008 + 1},
                      Fat32Case{131072, 64, 1, 1009, 0, 0}, // largest with 512-byte clusters
                      Fat32Case{133120, 65, 2, 516, 0, 0},  // first with 1 KiB clusters
                      Fat32Case{15523840, 7580, 8, 15131, 1936693, 30302},
                      Fat32Case{31116288, 15193, 16, 0, 0, 0},
                      Fat32Case{8096u * 2048, 8096, 8, 0, 0, 0},  // 8096 MiB: still 4 KiB
                      Fat32Case{8097u * 2048, 8097, 16, 0, 0, 0}, // 8097 MiB: 8 KiB
                      // The size formula leaves these FATs one entry short; one more sector each.
                      Fat32Case{67108864, 32768, 32, 16377, 2096127, 0},
                      Fat32Case{134217728, 65536, 64, 16381, 2096639, 0},
                      Fat32Case{0xFFFFFFFE, 2097151, 64, 0, 0, 0}));

// Every cluster needs a FAT entry, after the two reserved ones.
TEST(Fat32Quantities, TheFatCoversEveryCluster) {
  auto covers = [](std::uint32_t t, std::uint32_t bps) {
    const Fat32Layout l = fat32Layout(t, bps);
    return (std::uint64_t{l.clusterCount} + 2) * 4 <= std::uint64_t{l.fatSize} * bps &&
           l.systemAreaSectors <= t;
  };
  for (std::uint32_t t = 65537; t < 400000; ++t)
    ASSERT_TRUE(covers(t, 512)) << t;
  for (std::uint64_t t = 400000; t < 0xFFFFFFFF; t += 9973) {
    ASSERT_TRUE(covers(static_cast<std::uint32_t>(t), 512)) << t;
  }
  for (std::uint64_t t = 70000; t < 0xFFFFFFFF; t += 99991) {
    ASSERT_TRUE(covers(static_cast<std::uint32_t>(t), 1024)) << t;
  }
}

struct Fat16Case {
  std::uint32_t totalSectors;
  std::uint32_t fatSize;
  std::uint32_t clusterCount;
  std::uint64_t fatNeeded;
  std::uint32_t dataClusters;
};

class Fat16Quantities : public ::testing::TestWithParam<Fat16Case> {};

TEST_P(Fat16Quantities, MatchTheLayoutRules) {
  const auto& c = GetParam();
  const Fat16Layout l = fat16Layout(c.totalSectors, 512);
  EXPECT_EQ(l.sectorsPerCluster, 1);
  EXPECT_EQ(l.rootDirSectors, 32u);
  EXPECT_EQ(l.fatSize, c.fatSize);
  EXPECT_EQ(l.clusterCount, c.clusterCount);
  EXPECT_EQ(l.fatNeeded, c.fatNeeded);
  EXPECT_EQ(l.systemAreaSectors, 1 + 2 * c.fatSize + 32);
  EXPECT_EQ(l.dataClusters, c.dataClusters);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, Fat16Quantities,
                         ::testing::Values(Fat16Case{65535, 255, 65024, 254, 64992},
                                           Fat16Case{65536, 255, 65025, 255, 64993},
                                           Fat16Case{2048, 8, 2031, 8, 1999},
                                           Fat16Case{4096, 16, 4063, 16, 4031},
                                           Fat16Case{40, 1, 37, 1, 5}));

TEST(Fat16Quantities, NoSizeFrom40To65536FailsTheClusterChecks) {
  for (std::uint32_t t = 40; t <= 65536; ++t) {
    const Fat16Layout l = fat16Layout(t, 512);
    ASSERT_LE(l.clusterCount, 0xFFFFu) << t;
    ASSERT_LE(l.fatNeeded, l.fatSize) << t;
    ASSERT_LE(l.systemAreaSectors, t) << t;
  }
  // With 32 KiB clusters the FAT must grow to hold the two reserved entries as well.
  for (std::uint32_t t = 2u << 20; t < (4u << 20); t += 7) {
    const Fat16Layout l = fat16Layout(t, 512);
    ASSERT_LE((std::uint64_t{l.dataClusters} + 2) * 2, std::uint64_t{l.fatSize} * 512) << t;
  }
}

struct ClusterRule {
  std::uint32_t bytesPerSector;
  std::int64_t sizeMiB;
  std::uint8_t fat32;
  std::uint8_t fat16;
};

class ClusterSize : public ::testing::TestWithParam<ClusterRule> {};

TEST_P(ClusterSize, FollowsTheTables) {
  const auto& c = GetParam();
  EXPECT_EQ(fat32_sectors_per_cluster(c.bytesPerSector, c.sizeMiB), c.fat32);
  EXPECT_EQ(fat16_sectors_per_cluster(c.bytesPerSector, c.sizeMiB), c.fat16);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, ClusterSize,
    ::testing::Values(ClusterRule{512, 33, 2, 2}, ClusterRule{512, 64, 2, 2},
                      ClusterRule{512, 65, 2, 4}, ClusterRule{512, 128, 2, 4},
                      ClusterRule{512, 129, 4, 8}, ClusterRule{512, 256, 4, 8},
                      ClusterRule{512, 257, 8, 16}, ClusterRule{512, 512, 8, 16},
                      ClusterRule{512, 513, 8, 32}, ClusterRule{512, 1024, 8, 32},
                      ClusterRule{512, 1025, 8, 64}, ClusterRule{512, 8096, 8, 64},
                      ClusterRule{512, 8097, 16, 64}, ClusterRule{512, 16384, 16, 64},
                      ClusterRule{512, 16385, 32, 64}, ClusterRule{512, 32768, 32, 64},
                      ClusterRule{512, 32769, 64, 64}, ClusterRule{1024, 32769, 32, 32},
                      // 8-bit arithmetic: 1024 / 128 = 8 sectors per KiB, 32 KiB = 256 -> 0.
                      ClusterRule{128, 40000, 0, 0}, ClusterRule{2048, 200, 0, 0}));

// The golden boot sectors carry the serial of the formatter tests' pinned time; beyond it, each
// half wraps at 16 bits rather than carrying into the other.
TEST(VolumeId, EachHalfWrapsAtSixteenBits) {
  EXPECT_EQ(volumeIdFromTime({65535, 12, 31, 255, 59, 255, 999}), 0xFF3A0B82u);
}

} // namespace
} // namespace tarvix::fat
