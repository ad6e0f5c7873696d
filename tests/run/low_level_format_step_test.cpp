// The low-level format on farm cards: which sectors each extent zeroes and reads back, what the
// line and the progress bar show on the way, and how a failing card ends. Also: every sector step
// and the volume format with its option off leave the card alone.
#include "run/step_fixture.h"
#include "run/volume_format_step.h"

namespace tarvix::run_test {
namespace {

constexpr std::uint8_t kSentinel = 0xAA;
const std::string kPassed = "Test Low level \r\nFormat sucess!!\r\n";
const std::string kFailed = "Test Low level \r\nFormat Fail!!\r\n";

Step llf(int lun) {
  return [lun](const run::StepContext& c, int drive, station::PortRecord& p) {
    return run::lowLevelFormatStep(c, drive, p, lun);
  };
}

TEST_F(StepOnFarm, StepsWithTheirOptionOffLeaveCardLineAndProgressAlone) {
  const std::pair<const char*, Step> steps[] = {
      {"low-level format", llf(1)},
      {"read/write test",
       [](const run::StepContext& c, int d, station::PortRecord& p) {
         return run::readWriteTestStep(c, d, p, 1);
       }},
      {"partition sizes", [](const run::StepContext& c, int d,
                             station::PortRecord&) { return run::partitionSizeStep(c, d); }},
      {"capacity check", [](const run::StepContext& c, int d,
                            station::PortRecord&) { return run::capacityCheckStep(c, d); }},
      {"volume format", [](const run::StepContext& c, int d,
                           station::PortRecord&) { return run::formatVolumeStep(c, d); }},
  };
  for (const auto& [name, step] : steps) {
    SCOPED_TRACE(name);
    start(R"("cardSectors": 4000)");
    options.rwTestCount = 3;
    fillDisk(0, 256, kSentinel);
    const std::string before = line();
    EXPECT_TRUE(runStep(step));
    EXPECT_EQ(line(), before);
    EXPECT_TRUE(readers->sent().empty());
    EXPECT_TRUE(trace.lines().empty());
    EXPECT_TRUE(progress().empty());
    EXPECT_TRUE(allEqual(readDisk(0, 256), kSentinel));
  }
}

class LowLevelFormat : public StepOnFarm {
protected:
  void startRow(std::uint64_t cardSectors, int row, const std::string& faults = "",
                const char* model = "VQ305A", int icType = kRowVq305a) {
    start(R"("cardSectors": )" + std::to_string(cardSectors) +
              (faults.empty() ? "" : R"(, "faults": [)" + faults + "]"),
          model, icType, cardSectors > 2048);
    options.lowLevelFormat = true;
    options.llfSelect = row;
  }
};

struct Extent {
  const char* name;
  std::uint64_t cardSectors;
  int row;
  std::uint64_t zeroed;    // sectors from 0 that end up zero; the rest of the LUN keeps its data
  std::size_t chunks;      // write and read-back pairs
  std::uint32_t lastBytes; // of the last request
  const char* model = "VQ305A";
  int icType = kRowVq305a;
};

class LowLevelFormatExtent : public LowLevelFormat, public ::testing::WithParamInterface<Extent> {};

TEST_P(LowLevelFormatExtent, ZeroesItsSectorsInWholeChunksAndStopsAtTheLunEnd) {
  const Extent& e = GetParam();
  startRow(e.cardSectors, e.row, "", e.model, e.icType);
  const std::uint64_t lunSectors = diskSectors();
  const auto infoSector = readImage((e.cardSectors - 1) * 512, 512);
  fillDisk(0, lunSectors, kSentinel);
  const station::SlotColour colourBefore = colour();

  ASSERT_TRUE(runStep(llf(1)));
  EXPECT_EQ(colour(), colourBefore);
  const auto transfers = readers->blockTransfers();
  ASSERT_EQ(transfers.size(), 2 * e.chunks);
  std::vector<std::string> expectedLines;
  for (std::size_t c = 0; c < e.chunks; ++c) {
    const SentRequest& write = transfers[2 * c];
    const SentRequest& read = transfers[2 * c + 1];
    const std::uint32_t bytes = c + 1 == e.chunks ? e.lastBytes : 65536;
    EXPECT_TRUE(write.isWrite() && read.isRead() && allEqual(write.data, 0)) << c;
    EXPECT_TRUE(write.block == c * 128 && read.block == c * 128) << c;
    EXPECT_TRUE(write.bytes == bytes && read.bytes == bytes) << c;
    expectedLines.push_back(std::to_string(c * 64) + "KB\r\n");
  }
  expectedLines.push_back(kPassed);
  EXPECT_EQ(lines(), expectedLines);

  EXPECT_TRUE(allEqual(readDisk(0, e.zeroed), 0));
  EXPECT_TRUE(allEqual(readDisk(e.zeroed, lunSectors - e.zeroed), kSentinel));
  EXPECT_EQ(readImage((e.cardSectors - 1) * 512, 512), infoSector);
  EXPECT_EQ(lastTrace(), kClosed);
}

// LUN sizes are one less than the card: the last sector holds the card information.
INSTANTIATE_TEST_SUITE_P(
    Extents, LowLevelFormatExtent,
    ::testing::Values(
        // 20480 sectors: 160 chunks, the last line 10176 KB.
        Extent{"TenMegabytes", 40001, 0, 20480, 160, 65536},
        Extent{"OnePercentIsOneChunk", 12801, 1, 128, 1, 65536},
        // 1500 sectors: the last chunk reaches past the extent to 1536.
        Extent{"FivePercentInWholeChunks", 30001, 2, 1536, 12, 65536},
        // The last chunk is cut at the LUN's end instead of being refused past it.
        Extent{"WholeLunNotAMultipleOfAChunk", 2101, 3, 2100, 17, 52 * 512},
        Extent{"OnePercentOfATinyLunIsNothing", 100, 1, 0, 0, 0},
        // Sized by the whole card, but never past the LUN into the card information sector.
        Extent{"CardSizedModelStaysInsideItsLun", 2049, 3, 2048, 16, 65536, "VQ301C-A-1LUN",
               kRowVq301cA1Lun}),
    kCaseName);

TEST_F(LowLevelFormat, ProgressClimbsFromTheLunsBaseByTheShareOfTheLunDone) {
  startRow(40001, 0);
  ASSERT_TRUE(runStep(llf(2)));
  // LUN 2 starts at 25 and its 15 points are shared by all of the LUN, not by the 10 MB done.
  const auto positions = progress();
  ASSERT_EQ(positions.size(), 160U);
  EXPECT_EQ(positions.front(), 25);
  EXPECT_EQ(positions.back(), 25 + 15 * 159 * 128 / 40000);
  EXPECT_TRUE(std::ranges::is_sorted(positions));
}

struct Fault {
  const char* name;
  std::string faults;
  std::vector<std::string> linesBeforeFailure;
};

class LowLevelFormatFault : public LowLevelFormat, public ::testing::WithParamInterface<Fault> {};

TEST_P(LowLevelFormatFault, FailsRedKeepingTheLastGoodChunkUntilThen) {
  const Fault& f = GetParam();
  startRow(4001, 3, f.faults);
  EXPECT_FALSE(runStep(llf(1)));
  auto expected = f.linesBeforeFailure;
  expected.push_back(kFailed);
  EXPECT_EQ(lines(), expected);
  EXPECT_EQ(colour(), station::SlotColour::Failed);
  EXPECT_EQ(traced(kClosed), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LowLevelFormatFault,
    ::testing::Values(
        Fault{"WriteRefused", fault("WriteSector", 2, "fail"), {"0KB\r\n", "64KB\r\n"}},
        Fault{"ReadBackDiffers", fault("ReadSector", 1, "corrupt"), {"0KB\r\n"}},
        Fault{"ReadBackRefused", fault("ReadSector", 0, "fail"), {}},
        Fault{"ReaderPulledMidway",
              fault("WriteSector", 3, "pull"),
              {"0KB\r\n", "64KB\r\n", "128KB\r\n"}},
        // The scan takes the first answer.
        Fault{"NoCapacity", fault("GetCapacity", 1, "fail"), {}}),
    kCaseName);

} // namespace
} // namespace tarvix::run_test
