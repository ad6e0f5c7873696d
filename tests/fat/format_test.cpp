#include "fat/boot_code.h"
#include "fat/fat_format.h"
#include "fat/test_support.h"
#include "support/hex_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

namespace tarvix::fat {
namespace {

using testing::allBytes;
using testing::le16;
using testing::le32;
using testing::MemoryVolume;
using testing::RecordingClock;

constexpr std::uint8_t kUntouched = 0xA5; // MemoryVolume's fill

std::vector<std::uint8_t> fixture(const std::string& name) {
  return tarvix::testing::readHexFixture("fat/" + name);
}

std::vector<std::uint8_t> bytesOf(std::span<const std::uint8_t> s, std::size_t from,
                                  std::size_t n) {
  return {s.begin() + static_cast<std::ptrdiff_t>(from),
          s.begin() + static_cast<std::ptrdiff_t>(from + n)};
}

bool sectorsAllZero(const MemoryVolume& v, std::uint32_t first, std::uint32_t last) {
  for (std::uint32_t n = first; n <= last; ++n) {
    if (!allBytes(v.sector(n), 0)) return false;
  }
  return true;
}

void expectBootCodeAndSignature(std::span<const std::uint8_t> s, std::size_t codeAt,
                                std::size_t codeBytes) {
  const auto code = bootCode();
  EXPECT_EQ(bytesOf(s, codeAt, code.size()), std::vector<std::uint8_t>(code.begin(), code.end()));
  EXPECT_TRUE(allBytes(s.subspan(codeAt + code.size(), codeBytes - code.size()), 0));
  EXPECT_EQ(s[510], 0x55);
  EXPECT_EQ(s[511], 0xAA);
}

struct Formatter {
  RecordingClock clock;
  platform::CapturingTrace trace;
  CFAT32Format format{clock, trace};
};

// A 65537-sector FAT32 volume as the layout tables give it, with the label in both places.
TEST(Fat32Golden, SmallestVolumeByteForByte) {
  MemoryVolume v(65537);
  Formatter f;
  f.format.setLabel("Public Disk");
  ASSERT_TRUE(f.format.format_volume(v, 65537));

  const auto golden = fixture("fat32_65537_public_disk.hex");
  ASSERT_EQ(golden.size(), 90u);
  EXPECT_EQ(bytesOf(v.sector(0), 0, 90), golden);
  expectBootCodeAndSignature(v.sector(0), 90, 420);
  EXPECT_TRUE(std::equal(v.sector(0).begin(), v.sector(0).end(), v.sector(6).begin()));

  const auto fsInfo = v.sector(1);
  EXPECT_EQ(le32(fsInfo, 0), 0x41615252u);
  EXPECT_TRUE(allBytes(fsInfo.subspan(4, 480), 0));
  EXPECT_EQ(le32(fsInfo, 484), 0x61417272u);
  EXPECT_EQ(le32(fsInfo, 488), 64496u); // ClusterCount - 1: the root directory's cluster
  EXPECT_EQ(le32(fsInfo, 492), 3u);
  EXPECT_TRUE(allBytes(fsInfo.subspan(496, 12), 0));
  EXPECT_EQ(le32(fsInfo, 508), 0xAA550000u);
  EXPECT_TRUE(std::equal(fsInfo.begin(), fsInfo.end(), v.sector(7).begin()));

  EXPECT_TRUE(sectorsAllZero(v, 2, 5));
  EXPECT_TRUE(sectorsAllZero(v, 8, 31));
  for (std::uint32_t fat : {32u, 32u + 504}) {
    const auto head = v.sector(fat);
    EXPECT_EQ(bytesOf(head, 0, 12),
              (std::vector<std::uint8_t>{0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF,
                                         0xFF, 0x0F}));
    EXPECT_TRUE(allBytes(head.subspan(12), 0));
    EXPECT_TRUE(sectorsAllZero(v, fat + 1, fat + 503));
  }

  const auto root = v.sector(32 + 2 * 504);
  EXPECT_EQ(bytesOf(root, 0, 12), (std::vector<std::uint8_t>{'P', 'u', 'b', 'l', 'i', 'c', ' ', 'D',
                                                             'i', 's', 'k', 0x08}));
  EXPECT_TRUE(allBytes(root.subspan(12), 0));
  // The data area after the root directory's one cluster is left alone.
  EXPECT_TRUE(allBytes(v.sector(32 + 2 * 504 + 1), kUntouched));
  EXPECT_TRUE(allBytes(v.sector(65536), kUntouched));

  EXPECT_EQ(v.partitionTypes, std::vector<std::uint8_t>{0x0C});
  EXPECT_EQ(v.dismounts, 1);

  const std::string seek = "Seek_to_Sect: Sector='0x";
  EXPECT_EQ(f.trace.lines(),
            (std::vector<std::string>{
                "ClusterCount < 65536, ClusterCount = 64497",
                seek + "0', BytesPerSector='0x200', Offset='0x0', lHiOffset='0x0'",
                seek + "0', BytesPerSector='0x200', Offset='0x0', lHiOffset='0x0'",
                seek + "1', BytesPerSector='0x200', Offset='0x200', lHiOffset='0x0'",
                seek + "6', BytesPerSector='0x200', Offset='0xc00', lHiOffset='0x0'",
                seek + "7', BytesPerSector='0x200', Offset='0xe00', lHiOffset='0x0'",
                seek + "20', BytesPerSector='0x200', Offset='0x4000', lHiOffset='0x0'",
                seek + "218', BytesPerSector='0x200', Offset='0x43000', lHiOffset='0x0'",
                seek + "410', BytesPerSector='0x200', Offset='0x82000', lHiOffset='0x0'",
            }));
}

TEST(Fat32Golden, EightGigabyteCardWritesOnlyItsSystemArea) {
  // Only the front of the card is held in memory; a write past it would fail the format.
  MemoryVolume v(32768);
  Formatter f;
  ASSERT_TRUE(f.format.format_volume(v, 15523840));
  std::uint64_t end = 0;
  for (const auto& w : v.writes)
    end = std::max(end, w.offset + w.bytes);
  EXPECT_EQ(end, 30302u * 512);
  EXPECT_EQ(le32(v.sector(1), 488), 1936692u);
  EXPECT_EQ(v.sector(0)[13], 8);
  EXPECT_EQ(le32(v.sector(0), 36), 15131u);
  // No label: the root directory is empty and the boot sector says so.
  EXPECT_TRUE(sectorsAllZero(v, 32 + 2 * 15131, 32 + 2 * 15131 + 7));
  EXPECT_EQ(bytesOf(v.sector(0), 71, 11), bytesOf(v.sector(6), 71, 11));
  EXPECT_EQ(std::string(v.sector(0).begin() + 71, v.sector(0).begin() + 82), "NO NAME    ");
  // Zero fill in requests of at most 128 sectors.
  for (const auto& w : v.writes)
    EXPECT_LE(w.bytes, 128u * 512);
}

TEST(Fat16Golden, LargestVolumeByteForByte) {
  MemoryVolume v(65536);
  Formatter f;
  f.format.setLabel("Public Disk");
  ASSERT_TRUE(f.format.format_volume_fat16(v, 65536));

  const auto golden = fixture("fat16_65536_public_disk.hex");
  ASSERT_EQ(golden.size(), 62u);
  EXPECT_EQ(bytesOf(v.sector(0), 0, 62), golden);
  expectBootCodeAndSignature(v.sector(0), 62, 448);
  for (std::uint32_t fat : {1u, 1u + 255}) {
    // 64993 clusters after the root directory: a true FAT16, so entry 1 carries the clean bits.
    EXPECT_EQ(le32(v.sector(fat), 0), 0xFFFFFFF8u);
    EXPECT_TRUE(allBytes(v.sector(fat).subspan(4), 0));
    EXPECT_TRUE(sectorsAllZero(v, fat + 1, fat + 254));
  }
  const auto root = v.sector(511);
  EXPECT_EQ(std::string(root.begin(), root.begin() + 11), "Public Disk");
  EXPECT_EQ(root[11], 0x08);
  EXPECT_TRUE(allBytes(root.subspan(12), 0));
  EXPECT_TRUE(sectorsAllZero(v, 512, 542));
  EXPECT_TRUE(allBytes(v.sector(543), kUntouched));
  EXPECT_EQ(v.partitionTypes, std::vector<std::uint8_t>{0x04});
  EXPECT_EQ(f.trace.lines().size(), 5u); // the zero fill's seek and four sector writes
}

struct Fat16Case {
  std::uint32_t totalSectors;
  std::uint16_t total16;
  std::uint32_t total32;
  std::uint16_t fatEntry1;
  const char* clusterTrace; // nullptr: none
};

class Fat16Heads : public ::testing::TestWithParam<Fat16Case> {};

TEST_P(Fat16Heads, TotalsHeadsAndTraces) {
  const auto& c = GetParam();
  MemoryVolume v(c.totalSectors);
  Formatter f;
  ASSERT_TRUE(f.format.format_volume_fat16(v, c.totalSectors));
  EXPECT_EQ(le16(v.sector(0), 19), c.total16);
  EXPECT_EQ(le32(v.sector(0), 32), c.total32);
  const std::uint16_t fatSize = le16(v.sector(0), 22);
  for (std::uint32_t fat : {1u, 1u + fatSize}) {
    EXPECT_EQ(le16(v.sector(fat), 0), 0xFFF8);
    EXPECT_EQ(le16(v.sector(fat), 2), c.fatEntry1);
  }
  const auto lines = f.trace.lines();
  const bool traced = !lines.empty() && lines.front().starts_with("ClusterCount");
  EXPECT_EQ(traced, c.clusterTrace != nullptr);
  if (c.clusterTrace) {
    EXPECT_EQ(lines.front(), c.clusterTrace);
  }
  // No label: the root directory, which held old bytes, is empty and the boot sector says NO NAME.
  EXPECT_TRUE(sectorsAllZero(v, 1 + 2 * fatSize, 1 + 2 * fatSize + 31));
  EXPECT_EQ(std::string(v.sector(0).begin() + 43, v.sector(0).begin() + 54), "NO NAME    ");
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, Fat16Heads,
    ::testing::Values(Fat16Case{65535, 65535, 0, 0xFFFF, nullptr},
                      Fat16Case{65536, 0, 65536, 0xFFFF, nullptr},
                      // Under 4085 clusters past the root directory it reads as FAT12: head kept.
                      Fat16Case{4096, 4096, 0, 0x0000, nullptr},
                      Fat16Case{2048, 2048, 0, 0x0000, "ClusterCount < 2048, ClusterCount = 2031"},
                      Fat16Case{4151, 4151, 0, 0x0000, nullptr}, // 4084 clusters
                      Fat16Case{4152, 4152, 0, 0xFFFF, nullptr}, // 4085 clusters
                      Fat16Case{40, 40, 0, 0x0000, "ClusterCount < 2048, ClusterCount = 37"}));

// A short label padded with blanks alike in the boot sector and the root directory: fsck.fat
// finds them differing otherwise (the tool check's labels of every length).

TEST(ZeroFill, FiveFailedAttemptsFailTheFormat) {
  MemoryVolume v(65537);
  v.failWrites = 1000;
  Formatter f;
  EXPECT_FALSE(f.format.format_volume(v, 65537));
  EXPECT_EQ(f.clock.sleeps, std::vector<std::uint32_t>(5, 1000));
  const auto lines = f.trace.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Zero_sectors Failed to write, Error='5'"), 5);
  EXPECT_EQ(lines.back(), "CFAT32Format::format_volume zero_sectors return false");
  EXPECT_TRUE(v.writes.empty());
  EXPECT_TRUE(v.partitionTypes.empty());
  EXPECT_EQ(v.dismounts, 0);

  MemoryVolume v16(4096);
  v16.failWrites = 1000;
  Formatter f16;
  EXPECT_FALSE(f16.format.format_volume_fat16(v16, 4096));
  EXPECT_EQ(f16.clock.sleeps.size(), 5u);
}

TEST(ZeroFill, AFailedAttemptStartsOverFromSectorZero) {
  MemoryVolume v(65537);
  v.failWrites = 1;
  Formatter f;
  EXPECT_TRUE(f.format.format_volume(v, 65537));
  EXPECT_EQ(f.clock.sleeps, std::vector<std::uint32_t>{1000});
  ASSERT_FALSE(v.writes.empty());
  EXPECT_EQ(v.writes.front().offset, 0u);
  EXPECT_TRUE(sectorsAllZero(v, 2, 5));
}

// Every sector written after the zero fill carries the file system; losing any one fails the
// format before the volume is finished.
TEST(SectorWrites, AnyRefusedWriteFailsTheFormat) {
  struct Case {
    bool fat32;
    int write; // from 0; FAT32 65537 zero-fills in 9 writes, FAT16 4096 in 1
  };
  for (const Case c : {Case{true, 9}, Case{true, 10}, Case{true, 11}, Case{true, 12},
                       Case{true, 13}, Case{true, 14}, Case{true, 15}, Case{false, 1},
                       Case{false, 2}, Case{false, 3}, Case{false, 4}}) {
    MemoryVolume v(65537);
    v.failWriteNumber = c.write;
    Formatter f;
    f.format.setLabel("CARD");
    const bool ok =
        c.fat32 ? f.format.format_volume(v, 65537) : f.format.format_volume_fat16(v, 4096);
    EXPECT_FALSE(ok) << c.fat32 << " write " << c.write;
    EXPECT_EQ(v.writeCalls, c.write + 1) << "nothing is written after the refused write";
    EXPECT_TRUE(v.partitionTypes.empty());
    EXPECT_EQ(v.dismounts, 0);
    EXPECT_TRUE(f.trace.lines().back().starts_with("Seek_to_Sect"));
  }
}

TEST(Finish, PartitionTypeFailureIsFatalOnlyWithHiddenSectors) {
  struct Case {
    bool fat32;
    std::uint32_t hidden;
    bool ok;
    const char* line;
  };
  for (const Case c :
       {Case{true, 0, true, nullptr}, Case{true, 63, false, "piDrive.HiddenSectors "},
        Case{false, 0, true, nullptr}, Case{false, 63, false, "piDrive.HiddenSectors exist"}}) {
    MemoryVolume v(65537);
    v.hidden = c.hidden;
    v.failPartitionType = true;
    Formatter f;
    const bool ok =
        c.fat32 ? f.format.format_volume(v, 65537) : f.format.format_volume_fat16(v, 65536);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(v.dismounts, c.ok ? 1 : 0);
    EXPECT_EQ(f.trace.lines().back().starts_with("Seek_to_Sect"), c.line == nullptr);
    if (c.line) {
      EXPECT_EQ(f.trace.lines().back(), c.line);
    }
    EXPECT_EQ(le32(v.sector(0), 28), c.hidden); // the hidden sectors went into the boot sector
  }
}

TEST(Finish, DismountFailureIsTracedButTheFormatStands) {
  MemoryVolume v(65537);
  v.failDismount = true;
  Formatter f;
  EXPECT_TRUE(f.format.format_volume(v, 65537));
  EXPECT_EQ(f.trace.lines().back(), "FSCTL_DISMOUNT_VOLUME false ");
}

TEST(Queries, FailedQueriesAreTracedAndTheFormatGoesOnWithDefaults) {
  MemoryVolume v(65537);
  v.failGeometry = true;
  v.failPartitionInfo = true;
  Formatter f;
  EXPECT_TRUE(f.format.format_volume(v, 65537));
  auto lines = f.trace.lines();
  EXPECT_EQ(lines[0], "DeviceIoControl GET_DRIVE_GEOMETRY FALSE");
  EXPECT_EQ(lines[1], "DeviceIoControl GET_PARTITION_INFO FALSE");
  EXPECT_EQ(le16(v.sector(0), 11), 512);
  EXPECT_EQ(le32(v.sector(0), 28), 0u);

  MemoryVolume v16(4096);
  v16.failPartitionInfo = true;
  Formatter f16;
  EXPECT_TRUE(f16.format.format_volume_fat16(v16, 4096));
  EXPECT_EQ(f16.trace.lines().front(), "DeviceIoControl FALSE 3");
}

TEST(Refusals, VolumesTheLayoutCannotDescribeAreNotTouched) {
  struct Case {
    bool fat32;
    std::uint32_t sectors;
    std::uint32_t bytesPerSector;
    const char* line; // nullptr: refused without a trace
  };
  for (const Case c :
       {Case{true, 0xFFFFFFFF, 512, nullptr},
        Case{true, 1u << 20, 4096, "BytesPerSector not supported, BytesPerSector='4096'"},
        Case{true, 65537, 1024, "BytesPerSector not supported, BytesPerSector='1024'"},
        Case{false, 4096, 256, "BytesPerSector not supported, BytesPerSector='256'"},
        Case{false, 34, 512, "TotalSectors too small, TotalSectors='34', SystemAreaSectors='35'"},
        Case{false, 0, 512, "ClusterCount > 0xFFFF"},
        Case{false, 8388608, 512, "ClusterCount > 0xFFFF"}}) {
    MemoryVolume v(64, c.bytesPerSector);
    Formatter f;
    EXPECT_FALSE(c.fat32 ? f.format.format_volume(v, c.sectors)
                         : f.format.format_volume_fat16(v, c.sectors));
    EXPECT_TRUE(v.writes.empty());
    const auto lines = f.trace.lines();
    if (c.line) {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back(), c.line);
    } else {
      EXPECT_TRUE(lines.empty() || lines.back() == "TotalSectors < 65536") << lines.back();
    }
  }
}

TEST(Refusals, KibSectorsWorkWhereTheyGiveACluster) {
  MemoryVolume v(2048, 1024);
  Formatter f;
  ASSERT_TRUE(f.format.format_volume(v, 131072)); // 128 MiB of 1 KiB sectors: 1 KiB clusters
  const auto boot = v.sector(0);
  EXPECT_EQ(le16(boot, 11), 1024);
  EXPECT_EQ(boot[13], 1);
  EXPECT_EQ(boot[1022], 0x55);
  EXPECT_EQ(boot[1023], 0xAA);
}

// Twenty-one ports format at once; no format may see another's state.
TEST(Format, ConcurrentFormatsAreIndependent) {
  MemoryVolume reference(65537);
  Formatter one;
  one.format.setLabel("PORT");
  ASSERT_TRUE(one.format.format_volume(reference, 65537));

  std::vector<std::unique_ptr<MemoryVolume>> volumes;
  std::vector<std::thread> workers;
  for (int port = 0; port < 21; ++port) {
    volumes.push_back(std::make_unique<MemoryVolume>(65537));
  }
  for (int port = 0; port < 21; ++port) {
    workers.emplace_back([&volumes, port] {
      Formatter f;
      f.format.setLabel("PORT");
      EXPECT_TRUE(f.format.format_volume(*volumes[port], 65537));
    });
  }
  for (auto& w : workers)
    w.join();
  for (const auto& v : volumes)
    EXPECT_TRUE(v->bytes == reference.bytes);
}

} // namespace
} // namespace tarvix::fat
