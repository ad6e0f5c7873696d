// Area sizes: kept in the card information sector, put in force only by re-initialisation or
// plug-in, and every transfer held inside the area it addresses.
#include "sim/sim_fixture.h"

#include <cerrno>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace tarvix::sim_test {
namespace {

using namespace channel;

constexpr std::uint32_t kCard = 4096;

std::uint32_t infoField(const std::filesystem::path& image, std::uint64_t offset) {
  const auto bytes = readFile(image, (kCard - 1) * 512ull + offset, 4);
  return static_cast<std::uint32_t>(bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3]);
}

class LayoutTest : public FarmTest {
protected:
  void SetUp() override {
    load(oneReader("VQ301C-A-2LUN", R"("cardSectors": 4096)"));
    holder = openReader("r1");
  }
  std::unique_ptr<ReaderHandleHolder> holder;
};

// So does the factory default, which clears them.
TEST_F(LayoutTest, SizesAreStoredAtOnceButTakeEffectOnlyAtReInitialisation) {
  EXPECT_EQ(unitCapacity(*holder, 0), kCard - 1);
  ASSERT_TRUE(SetBinAreaSize(*holder, 100));
  ASSERT_TRUE(SetCDRomSize(*holder, 200));
  EXPECT_EQ(infoField(farm->cardImagePath("r1"), 8), 100u);
  EXPECT_EQ(infoField(farm->cardImagePath("r1"), 12), 200u);
  EXPECT_EQ(unitCapacity(*holder, 0), kCard - 1) << "old layout still in force";
  EXPECT_EQ(unitCapacity(*holder, 1), 0u) << "no CD-ROM area yet: no medium";

  ASSERT_TRUE(ReInitialCard(*holder));
  EXPECT_EQ(unitCapacity(*holder, 0), kCard - 1 - 300);
  EXPECT_EQ(unitCapacity(*holder, 1), 200u);
  EXPECT_EQ(farm->layout("r1")->binSectors, 100u);
  EXPECT_EQ(farm->layout("r1")->cdRomSectors, 200u);

  ASSERT_TRUE(FactoryTotalDefault(*holder));
  EXPECT_EQ(infoField(farm->cardImagePath("r1"), 8), 0u);
  EXPECT_EQ(unitCapacity(*holder, 0), kCard - 1 - 300);
  ASSERT_TRUE(ReInitialCard(*holder));
  EXPECT_EQ(unitCapacity(*holder, 0), kCard - 1);
}

TEST_F(LayoutTest, EachAreaAddressesItsOwnPartOfTheCard) {
  ASSERT_TRUE(SetBinAreaSize(*holder, 16));
  ASSERT_TRUE(SetCDRomSize(*holder, 32));
  ASSERT_TRUE(ReInitialCard(*holder));
  const auto bin = pattern(512, 1);
  const auto autorun = pattern(1024, 2);
  const auto disk = pattern(512, 3);
  ASSERT_TRUE(WriteBin(*holder, bin, 2));
  ASSERT_TRUE(WriteAutorun(*holder, autorun, 4));
  ASSERT_TRUE(WriteSector(*holder, disk, 5));
  const auto image = farm->cardImagePath("r1");
  EXPECT_EQ(readFile(image, 2 * 512, 512), bin);
  EXPECT_EQ(readFile(image, (16 + 4) * 512, 1024), autorun);
  EXPECT_EQ(readFile(image, (16 + 32 + 5) * 512, 512), disk);
  // The CD-ROM letter reads the CD-ROM area and refuses writes.
  auto cdRom = openReader("r1", 1);
  std::vector<std::uint8_t> back(1024);
  ASSERT_TRUE(ReadSector(*cdRom, back, 4));
  EXPECT_EQ(back, autorun);
  EXPECT_FALSE(WriteSector(*cdRom, autorun, 0));
}

TEST_F(LayoutTest, ALayoutThatDoesNotFitIsRefusedAndTheOldOneKept) {
  ASSERT_TRUE(SetBinAreaSize(*holder, 10));
  ASSERT_TRUE(ReInitialCard(*holder));
  ASSERT_TRUE(SetCDRomSize(*holder, kCard - 10 - 1)); // B + C + 2 = S + 1
  EXPECT_FALSE(ReInitialCard(*holder));
  EXPECT_EQ(unitCapacity(*holder, 0), kCard - 1 - 10);
  ASSERT_TRUE(SetCDRomSize(*holder, kCard - 10 - 2)); // B + C + 2 = S: one public sector
  ASSERT_TRUE(ReInitialCard(*holder));
  EXPECT_EQ(unitCapacity(*holder, 0), 1u);
}

TEST_F(LayoutTest, PlugInReadsTheSizesFromTheCard) {
  ASSERT_TRUE(SetBinAreaSize(*holder, 8));
  ASSERT_TRUE(SetCDRomSize(*holder, 24));
  holder.reset();
  ASSERT_TRUE(farm->pull("r1"));
  ASSERT_TRUE(farm->plug("r1"));
  holder = openReader("r1");
  EXPECT_EQ(unitCapacity(*holder, 0), kCard - 1 - 32);
  EXPECT_EQ(unitCapacity(*holder, 1), 24u);
  // And so does a new farm on the same images.
  holder.reset();
  farm.reset();
  load(oneReader("VQ301C-A-2LUN", R"("cardSectors": 4096)"));
  EXPECT_EQ(farm->layout("r1")->cdRomSectors, 24u);
}

// Transfers that end exactly at the end of their area pass; one byte further fails.
TEST_F(LayoutTest, TransfersThatReachOutsideTheirAreaFail) {
  ASSERT_TRUE(SetBinAreaSize(*holder, 8));
  ASSERT_TRUE(SetCDRomSize(*holder, 16));
  ASSERT_TRUE(ReInitialCard(*holder));
  const std::uint32_t disk = kCard - 1 - 24;
  std::vector<std::uint8_t> sector(512);
  std::vector<std::uint8_t> overSector(513);
  struct Bound {
    const char* what;
    std::function<bool(std::span<std::uint8_t>, std::uint32_t)> read;
    std::uint32_t lastSector;
  };
  const Bound bounds[] = {
      {"ReadCard", [&](auto b, auto s) { return ReadCard(*holder, b, s); }, kCard - 1},
      {"ReadBin", [&](auto b, auto s) { return ReadBin(*holder, b, s); }, 7},
      {"ReadAutoRun", [&](auto b, auto s) { return ReadAutoRun(*holder, b, s); }, 15},
      {"ReadSector", [&](auto b, auto s) { return ReadSector(*holder, b, s); }, disk - 1},
  };
  for (const Bound& bound : bounds) {
    EXPECT_TRUE(bound.read(sector, bound.lastSector)) << bound.what;
    EXPECT_FALSE(bound.read(sector, bound.lastSector + 1)) << bound.what;
    EXPECT_FALSE(bound.read(overSector, bound.lastSector)) << bound.what << ": partial sector";
  }
  EXPECT_FALSE(WriteBin(*holder, sector, 8));
  EXPECT_FALSE(WriteAutorun(*holder, sector, 16));
  EXPECT_FALSE(WriteSector(*holder, sector, disk));
  EXPECT_FALSE(WriteCard(*holder, sector, kCard));
  EXPECT_FALSE(trace.lines().empty()) << "each refusal traced its error line";
}

TEST_F(FarmTest, SecondCardOfATwoSlotReaderIsItsOwnImage) {
  load(oneReader("VQ307B2B-2LUN",
                 R"("cards": [ { "cardSectors": 4096 }, { "cardSectors": 2048 } ])"));
  auto second = openReader("r1", 1);
  const auto data = pattern(2048, 9);
  ASSERT_TRUE(WriteSector(*second, data, 2044));
  EXPECT_EQ(readFile(farm->cardImagePath("r1", 1), 2044 * 512, 2048), data);
  EXPECT_EQ(farm->cardImagePath("r1", 1).filename(), "r1-2.img");
  std::vector<std::uint8_t> sector(512);
  EXPECT_FALSE(ReadSector(*second, sector, 2048));
}

// A fresh image takes no room; that images outlive the farm is checked on the default farm.
TEST_F(FarmTest, ImagesAreSparse) {
  load(oneReader("VQ301B", R"("cardMiB": 256)"));
  const auto image = farm->cardImagePath("r1");
  EXPECT_EQ(std::filesystem::file_size(image), 256u << 20);
#ifdef _WIN32
  GTEST_SKIP() << "the allocated size of a file is not asked of Windows here";
#else
  struct stat info {};
  ASSERT_EQ(::stat(image.c_str(), &info), 0);
  EXPECT_LT(info.st_blocks * 512, 4 << 20);
#endif
}

TEST_F(FarmTest, AnImageOfAnotherSizeIsRefusedAndNothingElseCreated) {
  load(oneReader("VQ301B", R"("cardSectors": 4096)"));
  farm.reset();
  const std::string error = refusal(farmJson(
      R"({ "port": 1, "reader": { "id": "r0", "model": "VQ301B", "cardSectors": 4096 } },
         { "port": 2, "reader": { "id": "r1", "model": "VQ301B", "cardSectors": 8192 } })"));
  EXPECT_NE(error.find("$.hostControllers[0].attached[1].reader"), std::string::npos) << error;
  EXPECT_NE(error.find("r1.img"), std::string::npos) << error;
  EXPECT_NE(error.find("2097152"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "farm-images" / "r0.img"));
}

} // namespace
} // namespace tarvix::sim_test
