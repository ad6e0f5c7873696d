// Volumes we format, checked by tools no one here wrote: fsck.fat must find nothing to mend, and
// mtools must read the label and files written into the new file system.
#include "fat/fat_format.h"
#include "fat/test_support.h"
#include "platform/linux/volume/image_volume.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace tarvix::fat {
namespace {

namespace fs = std::filesystem;
using platform::linux_volume::ImageVolume;

class ImageDir : public testing::ImageFile {
protected:
  bool format(const std::string& path, std::uint32_t sectors, const std::string& label,
              std::uint64_t offset = 0) {
    auto volume = ImageVolume::open(path, offset);
    if (!volume) return false;
    testing::RecordingClock clock;
    platform::CapturingTrace trace;
    CFAT32Format formatter(clock, trace);
    formatter.setLabel(label);
    return formatter.format(*volume, sectors);
  }
};

struct FsckCase {
  std::uint32_t sectors;
  const char* label;
};

class FsckMatrix : public ImageDir, public ::testing::WithParamInterface<FsckCase> {};

TEST_P(FsckMatrix, FsckFindsNothingToMend) {
  const auto& c = GetParam();
  const std::string path = image(c.sectors * 512ull);
  ASSERT_TRUE(format(path, c.sectors, c.label));
  const tarvix::testing::Shell fsck = tarvix::testing::shell("fsck.fat -n " + path);
  EXPECT_EQ(fsck.status, 0) << fsck.output;
  // fsck.fat reports what it would change even when it exits 0 for some of them.
  EXPECT_EQ(fsck.output.find("Dirty bit"), std::string::npos) << fsck.output;
  EXPECT_EQ(fsck.output.find("differ"), std::string::npos) << fsck.output;
}

INSTANTIATE_TEST_SUITE_P(Fat16, FsckMatrix,
                         ::testing::Values(FsckCase{40, ""}, FsckCase{41, "A"}, FsckCase{100, "AB"},
                                           FsckCase{2047, "ABC"}, FsckCase{2048, "CARD"},
                                           FsckCase{4096, "CARDS"}, FsckCase{4151, "PUBLIC"},
                                           FsckCase{4152, "PUBLIC "}, FsckCase{8192, "PUBLIC D"},
                                           FsckCase{20000, "PUBLIC DI"},
                                           FsckCase{32768, "PUBLIC DIS"},
                                           FsckCase{65535, "PUBLIC DISK"},
                                           FsckCase{65536, "Public Disk"}, FsckCase{65536, ""}));

INSTANTIATE_TEST_SUITE_P(
    Fat32, FsckMatrix,
    ::testing::Values(FsckCase{65537, ""}, FsckCase{65537, "Public Disk"}, FsckCase{100000, "A"},
                      FsckCase{131072, "CARD 1"}, FsckCase{133120, "CARD 12"},
                      FsckCase{526336, "X"}, FsckCase{2097152, "ONE GIG"},
                      FsckCase{15523840, "EIGHT GB"}, FsckCase{8096u * 2048, ""},
                      FsckCase{8097u * 2048, "8097 MIB"}, FsckCase{31116288, "SIXTEEN GB"},
                      FsckCase{67108864, "THIRTY TWO"}, FsckCase{134217728, "SIXTY FOUR "}));

class MtoolsReadBack : public ImageDir, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(MtoolsReadBack, LabelAndFileReadBack) {
  const std::uint32_t sectors = GetParam();
  const std::string path = image(sectors * 512ull);
  ASSERT_TRUE(format(path, sectors, "Public Disk"));

  const tarvix::testing::Shell info = tarvix::testing::shell("minfo -i " + path + " ::");
  EXPECT_NE(info.output.find(sectors <= 66580 ? "FAT16" : "FAT32"), std::string::npos)
      << info.output;
  const tarvix::testing::Shell label = tarvix::testing::shell("mlabel -s -i " + path + " ::");
  EXPECT_EQ(label.status, 0) << label.output;
  EXPECT_NE(label.output.find("Volume label is Public Disk"), std::string::npos) << label.output;

  const auto source = (dir_.path() / "data.bin").string();
  std::string data(300000, '\0');
  std::mt19937 random(sectors);
  for (auto& ch : data)
    ch = static_cast<char>(random());
  std::ofstream(source, std::ios::binary)
      .write(data.data(), static_cast<std::streamsize>(data.size()));
  const tarvix::testing::Shell copy =
      tarvix::testing::shell("mcopy -i " + path + " " + source + " ::/DATA.BIN");
  ASSERT_EQ(copy.status, 0) << copy.output;
  const tarvix::testing::Shell type = tarvix::testing::shell("mtype -i " + path + " ::/DATA.BIN");
  ASSERT_EQ(type.status, 0);
  EXPECT_TRUE(type.output == data) << "read back " << type.output.size() << " bytes";
  const tarvix::testing::Shell fsck = tarvix::testing::shell("fsck.fat -n " + path);
  EXPECT_EQ(fsck.status, 0) << fsck.output;
}

// mtools, like the FAT standard, takes the FAT type from the cluster count alone: just above 65536
// sectors FAT32 would have fewer than 65525 clusters, so those volumes must be FAT16; from 66581
// on FAT32 has enough.
INSTANTIATE_TEST_SUITE_P(Sizes, MtoolsReadBack,
                         ::testing::Values(8192u, 65536u, 65537u, 66050u, 66051u, 66072u, 66580u,
                                           66581u, 133120u, 2097152u));

// Seeded random sizes over the whole range the station formats, FAT16 or FAT32 as the formatter
// chooses: whatever the size, fsck.fat finds nothing to mend and
// mtools reads the boot sector's size and the label. Log-uniform within three bands so the
// smallest cards, the sizes just above the FAT16 limit and cards of gigabytes all get their share.
TEST_F(ImageDir, RandomSizesPassFsckAndReadBackWithMtools) {
  struct Band {
    std::uint32_t low;
    std::uint32_t high;
    int draws;
  };
  // 36 sectors: the smallest volume whose FAT16 layout leaves a data cluster; 4 GiB at the top.
  constexpr Band kBands[] = {{36, 65536, 12}, {65537, 70000, 4}, {70001, 4u << 21, 16}};
  std::mt19937 random(20261208);
  for (const Band& band : kBands) {
    std::uniform_real_distribution<double> exponent(std::log(band.low), std::log(band.high));
    for (int draw = 0; draw < band.draws; ++draw) {
      const auto sectors = static_cast<std::uint32_t>(std::lround(std::exp(exponent(random))));
      SCOPED_TRACE("sectors " + std::to_string(sectors));
      const std::string path = image(sectors * 512ull);
      ASSERT_TRUE(format(path, sectors, "RANDOM"));
      const tarvix::testing::Shell fsck = tarvix::testing::shell("fsck.fat -n " + path);
      EXPECT_EQ(fsck.status, 0) << fsck.output;
      EXPECT_EQ(fsck.output.find("Dirty bit"), std::string::npos) << fsck.output;
      EXPECT_EQ(fsck.output.find("differ"), std::string::npos) << fsck.output;
      const tarvix::testing::Shell info = tarvix::testing::shell("minfo -i " + path + " ::");
      EXPECT_EQ(info.status, 0) << info.output;
      EXPECT_NE(info.output.find("size: " + std::to_string(sectors) + " sectors"),
                std::string::npos)
          << info.output;
      const tarvix::testing::Shell dir = tarvix::testing::shell("mdir -i " + path + " ::");
      EXPECT_EQ(dir.status, 0) << dir.output;
      EXPECT_NE(dir.output.find("Volume in drive : is RANDOM"), std::string::npos) << dir.output;
    }
  }
}

// A card that kept its partition table: the volume starts at sector 63 and the partition entry
// gets the new type.
TEST_F(ImageDir, PartitionedCardGetsItsTypeAndReadsBack) {
  constexpr std::uint64_t kStart = 63;
  for (const std::uint32_t sectors : {20000u, 200000u}) {
    const std::string path =
        image((kStart + sectors) * 512, testing::mbrWithEntry(1, kStart, sectors));
    ASSERT_TRUE(format(path, sectors, "PART", kStart * 512));
    EXPECT_EQ(head(path)[446 + 4], sectors > 0x10000 ? 0x0C : 0x04);

    const std::string at = path + "@@" + std::to_string(kStart * 512);
    const tarvix::testing::Shell label = tarvix::testing::shell("mlabel -s -i " + at + " ::");
    EXPECT_NE(label.output.find("Volume label is PART"), std::string::npos) << label.output;
    const tarvix::testing::Shell info = tarvix::testing::shell("minfo -i " + at + " ::");
    EXPECT_NE(info.output.find("hidden sectors: 63"), std::string::npos) << info.output;
  }
}

} // namespace
} // namespace tarvix::fat
