// The low-level format on farm cards: which sectors each extent zeroes and reads back, what the
// line and the progress bar show on the way, and how a failing card ends.
#include "run/step_fixture.h"

namespace tarvix::run_test {
namespace {

namespace id = station::id;

constexpr std::uint8_t kSentinel = 0xAA;
const std::string kPassed = "Test Low level \r\nFormat sucess!!\r\n";
const std::string kFailed = "Test Low level \r\nFormat Fail!!\r\n";
const std::string kClosed = "m_hUSBDeviceHandle close handle";

auto llf(int lun) {
  return [lun](const run::StepContext& c, int drive, station::PortRecord& p) {
    return run::lowLevelFormatStep(c, drive, p, lun);
  };
}

class LowLevelFormat : public StepOnFarm {};

TEST_F(LowLevelFormat, OffLeavesCardLineAndProgressAlone) {
  start(R"("cardSectors": 4000)");
  fillDisk(0, 256, kSentinel);
  const std::string before = line();
  EXPECT_TRUE(runStep(llf(1)));
  EXPECT_EQ(line(), before);
  EXPECT_TRUE(readers->sent().empty());
  EXPECT_TRUE(progress().empty());
  EXPECT_TRUE(allEqual(readDisk(0, 256), kSentinel));
}

struct Extent {
  const char* name;
  const char* model;
  int icType;
  std::uint64_t cardSectors;
  int row;
  std::uint64_t zeroed;    // sectors from 0 that end up zero; the rest of the LUN keeps its data
  std::size_t chunks;      // write and read-back pairs
  std::uint32_t lastBytes; // of the last request
};

class LowLevelFormatExtent : public LowLevelFormat, public ::testing::WithParamInterface<Extent> {};

TEST_P(LowLevelFormatExtent, ZeroesItsSectorsInWholeChunksAndStopsAtTheLunEnd) {
  const Extent& e = GetParam();
  start(R"("cardSectors": )" + std::to_string(e.cardSectors), e.model, e.icType,
        e.cardSectors > 2048);
  const std::uint64_t lunSectors = diskSectors();
  const auto infoSector = readImage((e.cardSectors - 1) * 512, 512);
  fillDisk(0, lunSectors, kSentinel);
  check(id::kLlf, true);
  station->window->llfSelect = e.row;
  const station::SlotColour colourBefore = colour();

  ASSERT_TRUE(runStep(llf(1)));
  EXPECT_EQ(line(), kPassed);
  EXPECT_EQ(colour(), colourBefore);

  const auto transfers = readers->blockTransfers();
  ASSERT_EQ(transfers.size(), 2 * e.chunks);
  std::vector<std::string> expectedLines;
  for (std::size_t c = 0; c < e.chunks; ++c) {
    const SentRequest& write = transfers[2 * c];
    const SentRequest& read = transfers[2 * c + 1];
    const std::uint32_t bytes = c + 1 == e.chunks ? e.lastBytes : 65536;
    EXPECT_TRUE(write.isWrite() && read.isRead()) << c;
    EXPECT_EQ(write.block, c * 128) << c;
    EXPECT_EQ(read.block, c * 128) << c;
    EXPECT_EQ(write.bytes, bytes) << c;
    EXPECT_EQ(read.bytes, bytes) << c;
    EXPECT_TRUE(allEqual(write.data, 0)) << c;
    expectedLines.push_back(std::to_string(c * 64) + "KB\r\n");
  }
  expectedLines.push_back(kPassed);
  EXPECT_EQ(lines(), expectedLines);

  EXPECT_TRUE(allEqual(readDisk(0, e.zeroed), 0));
  if (e.zeroed < lunSectors) {
    EXPECT_TRUE(allEqual(readDisk(e.zeroed, lunSectors - e.zeroed), kSentinel));
  }
  EXPECT_EQ(readImage((e.cardSectors - 1) * 512, 512), infoSector);
  EXPECT_EQ(station->trace.lines().back(), kClosed);
}

// LUN sizes are one less than the card: the last sector holds the card information.
INSTANTIATE_TEST_SUITE_P(
    Extents, LowLevelFormatExtent,
    ::testing::Values(
        // 20480 sectors: 160 chunks, the last line 10176 KB.
        Extent{"TenMegabytes", "VQ305A", kRowVq305a, 40001, 0, 20480, 160, 65536},
        Extent{"OnePercentIsOneChunk", "VQ305A", kRowVq305a, 12801, 1, 128, 1, 65536},
        // 1500 sectors: the last chunk reaches past the extent to 1536.
        Extent{"FivePercentInWholeChunks", "VQ305A", kRowVq305a, 30001, 2, 1536, 12, 65536},
        // The last chunk is cut at the LUN's end instead of being refused past it.
        Extent{"WholeLunNotAMultipleOfAChunk", "VQ305A", kRowVq305a, 2101, 3, 2100, 17, 52 * 512},
        Extent{"OnePercentOfATinyLunIsNothing", "VQ305A", kRowVq305a, 100, 1, 0, 0, 0},
        // Sized by the whole card, but never past the LUN into the card information sector.
        Extent{"CardSizedModelStaysInsideItsLun", "VQ301C-A-1LUN", kRowVq301cA1Lun, 2049, 3, 2048,
               16, 65536}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(LowLevelFormat, ProgressClimbsFromTheLunsBaseByTheShareDone) {
  start(R"("cardSectors": 2561)");
  check(id::kLlf, true);
  station->window->llfSelect = 3;
  // LUN 2's base is 25; 1920 * c / 2560 for c = 0..19.
  ASSERT_TRUE(runStep(llf(2)));
  EXPECT_EQ(progress(), (std::vector<int>{25, 25, 26, 27, 28, 28, 29, 30, 31, 31,
                                          32, 33, 34, 34, 35, 36, 37, 37, 38, 39}));
}

TEST_F(LowLevelFormat, TenMegabytesOfALargeLunKeepsLunOneAtTen) {
  start(R"("cardSectors": 1000001)");
  check(id::kLlf, true);
  station->window->llfSelect = 0;
  ASSERT_TRUE(runStep(llf(1)));
  EXPECT_EQ(progress(), std::vector<int>(160, 10));
  EXPECT_EQ(lines().at(159), "10176KB\r\n");
}

struct Fault {
  const char* name;
  const char* faults;
  std::vector<std::string> linesBeforeFailure;
};

class LowLevelFormatFault : public LowLevelFormat, public ::testing::WithParamInterface<Fault> {};

TEST_P(LowLevelFormatFault, FailsRedKeepingTheLastGoodChunkUntilThen) {
  const Fault& f = GetParam();
  start(R"("cardSectors": 4001, "faults": [)" + std::string(f.faults) + "]");
  check(id::kLlf, true);
  station->window->llfSelect = 3;
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
        Fault{"WriteRefused",
              R"({"command": "WriteSector", "after": 2, "fault": "fail"})",
              {"0KB\r\n", "64KB\r\n"}},
        Fault{"ReadBackDiffers",
              R"({"command": "ReadSector", "after": 1, "fault": "corrupt"})",
              {"0KB\r\n"}},
        Fault{"ReadBackRefused", R"({"command": "ReadSector", "after": 0, "fault": "fail"})", {}},
        Fault{"ReaderPulledMidway",
              R"({"command": "WriteSector", "after": 3, "fault": "pull"})",
              {"0KB\r\n", "64KB\r\n", "128KB\r\n"}},
        // The scan and the model check take the first two answers.
        Fault{"NoCapacity", R"({"command": "GetCapacity", "after": 2, "fault": "fail"})", {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(LowLevelFormat, CapacityIsAskedTenTimesBeforeGivingUp) {
  start(
      R"("cardSectors": 4001, "faults": [{"command": "GetCapacity", "after": 2, "fault": "fail"}])");
  check(id::kLlf, true);
  EXPECT_FALSE(runStep(llf(1)));
  EXPECT_EQ(tracedStartingWith("GetCapacity Error Code ='"), 10);
  EXPECT_TRUE(readers->blockTransfers().empty());
}

} // namespace
} // namespace tarvix::run_test
