// The read/write test on farm cards: rounds that leave the card as it was, a walk that keeps off
// the LUN's first thousandth and its end, the progress it shows, and every way a round can fail.
#include "run/step_fixture.h"

namespace tarvix::run_test {
namespace {

namespace id = station::id;

const std::string kPassed = "Read Write\r\nTest Pass!!";
const std::string kFailed = "Read Write\r\nTest Fail!!";
const std::string kClosed = "m_hUSBDeviceHandle close handle";

auto rwTest(int lun) {
  return [lun](const run::StepContext& c, int drive, station::PortRecord& p) {
    return run::readWriteTestStep(c, drive, p, lun);
  };
}

class ReadWriteTest : public StepOnFarm {
protected:
  void startWithRounds(const std::string& card, int rounds, bool accepted = true) {
    start(card, "VQ305A", kRowVq305a, accepted);
    check(id::kReadWriteTest, true);
    station->window->rwTestCount = rounds;
  }
  // Distinct data in every sector, so a sector put back in the wrong place shows.
  std::vector<std::uint8_t> fillWithData() {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(diskSectors() * 512));
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9) * 7 + 1);
    writeImage(disk().firstByte, bytes);
    return bytes;
  }
  std::vector<std::uint8_t> wholeDisk() { return readDisk(0, diskSectors()); }
};

// Each round is save, pattern, read-back, restore of one run; the walk stays inside
// [N / 1000, N - 128) and moves on by the run's length or wraps to N / 1000.
void expectWalk(const std::vector<SentRequest>& transfers, std::uint64_t sectorCount,
                std::size_t rounds) {
  ASSERT_EQ(transfers.size(), 4 * rounds);
  const std::uint64_t first = sectorCount / 1000;
  for (std::size_t r = 0; r < rounds; ++r) {
    const SentRequest* round = &transfers[4 * r];
    EXPECT_TRUE(round[0].isRead() && round[1].isWrite() && round[2].isRead() && round[3].isWrite());
    for (int i = 1; i < 4; ++i) {
      EXPECT_EQ(round[i].block, round[0].block) << r;
      EXPECT_EQ(round[i].bytes, round[0].bytes) << r;
    }
    EXPECT_GE(round[0].bytes, 512U);
    EXPECT_LE(round[0].bytes, 65536U);
    EXPECT_GE(round[0].block, first) << r;
    EXPECT_LT(round[0].block + 128, sectorCount) << r;
    if (r > 0) {
      const SentRequest& before = transfers[4 * (r - 1)];
      const std::uint64_t next = before.block + before.bytes / 512;
      EXPECT_TRUE(round[0].block == next || round[0].block == first) << r;
    }
  }
}

TEST_F(ReadWriteTest, OffSendsNothing) {
  start(R"("cardSectors": 40001)");
  const std::string before = line();
  EXPECT_TRUE(runStep(rwTest(1)));
  EXPECT_EQ(line(), before);
  EXPECT_TRUE(readers->sent().empty());
}

TEST_F(ReadWriteTest, NoRoundsPassAfterTheCapacityWithoutATransfer) {
  for (int rounds : {0, -3}) {
    startWithRounds(R"("cardSectors": 40001)", rounds);
    EXPECT_TRUE(runStep(rwTest(1))) << rounds;
    EXPECT_EQ(line(), kPassed) << rounds;
    EXPECT_EQ(readers->vendorCount(kSubCapacity), 1) << rounds;
    EXPECT_TRUE(readers->blockTransfers().empty()) << rounds;
    EXPECT_TRUE(progress().empty()) << rounds;
  }
}

TEST_F(ReadWriteTest, RoundsLeaveTheCardAsItWas) {
  startWithRounds(R"("cardSectors": 40001)", 5);
  const auto before = fillWithData();
  ASSERT_TRUE(runStep(rwTest(1)));
  EXPECT_EQ(line(), kPassed);
  EXPECT_NE(colour(), station::SlotColour::Failed);
  EXPECT_TRUE(wholeDisk() == before);
  expectWalk(readers->blockTransfers(), diskSectors(), 5);
  EXPECT_EQ(station->trace.lines().back(), kClosed);
}

TEST_F(ReadWriteTest, WalkWrapsBackToTheFirstThousandth) {
  startWithRounds(R"("cardSectors": 2301)", 80);
  const auto before = fillWithData();
  ASSERT_TRUE(runStep(rwTest(1)));
  const auto transfers = readers->blockTransfers();
  expectWalk(transfers, diskSectors(), 80);
  int wraps = 0;
  for (std::size_t r = 4; r < transfers.size(); r += 4)
    wraps += transfers[r].block == diskSectors() / 1000;
  EXPECT_GT(wraps, 0);
  EXPECT_TRUE(wholeDisk() == before);
}

TEST_F(ReadWriteTest, ALunTooSmallForAWholeRunIsWalkedWithinItsEnd) {
  startWithRounds(R"("cardSectors": 101)", 10, false);
  ASSERT_TRUE(runStep(rwTest(1)));
  EXPECT_EQ(line(), kPassed);
  const auto transfers = readers->blockTransfers();
  ASSERT_EQ(transfers.size(), 40U);
  for (const auto& t : transfers)
    EXPECT_LE(t.block + t.bytes / 512, 100U);
}

TEST_F(ReadWriteTest, ThePatternAlwaysDiffersFromWhatTheCardHolds) {
  startWithRounds(R"("cardSectors": 40001)", 1);
  clock->pin(1234);
  ASSERT_TRUE(runStep(rwTest(1)));
  const auto first = readers->blockTransfers();
  ASSERT_EQ(first.size(), 4U);
  const std::uint32_t block = first[0].block;
  const std::uint32_t bytes = first[0].bytes;
  // Whatever one byte the pinned tick makes of the pattern, some fill below equals it.
  for (int value = 0; value < 256; ++value) {
    fillDisk(block, bytes / 512, static_cast<std::uint8_t>(value));
    readers->clear();
    ASSERT_TRUE(runStep(rwTest(1))) << value;
    const auto transfers = readers->blockTransfers();
    ASSERT_EQ(transfers.size(), 4U);
    const SentRequest& pattern = transfers[1];
    ASSERT_EQ(pattern.block, block);
    EXPECT_FALSE(allEqual(pattern.data, static_cast<std::uint8_t>(value))) << value;
  }
}

struct Progress {
  int lun;
  int rounds;
  std::vector<int> positions;
};

TEST_F(ReadWriteTest, ProgressRisesByAFifthOfTheLunsShareEachRound) {
  const Progress cases[] = {
      {1, 5, {100, 101, 102, 103, 104}},
      {2, 3, {105, 106, 108}},
      {4, 10, {115, 115, 116, 116, 117, 117, 118, 118, 119, 119}},
  };
  for (const Progress& p : cases) {
    startWithRounds(R"("cardSectors": 40001)", p.rounds);
    ASSERT_TRUE(runStep(rwTest(p.lun)));
    EXPECT_EQ(progress(), p.positions) << p.lun;
  }
}

struct Fault {
  const char* name;
  const char* faults;
  bool cardUnchanged;
};

class ReadWriteTestFault : public ReadWriteTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(ReadWriteTestFault, FailsRedAndPutsTheSavedSectorsBack) {
  const Fault& f = GetParam();
  startWithRounds(R"("cardSectors": 40001, "faults": [)" + std::string(f.faults) + "]", 3);
  const auto before = fillWithData();
  const int slotBefore = slot();
  EXPECT_FALSE(runStep(rwTest(1)));
  EXPECT_EQ(station->window->text(station::resultLineId(slotBefore)), kFailed);
  EXPECT_EQ(colour(), station::SlotColour::Failed);
  EXPECT_EQ(traced(kClosed), 1);
  if (f.cardUnchanged) {
    EXPECT_TRUE(wholeDisk() == before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReadWriteTestFault,
    ::testing::Values(
        Fault{"SavingReadRefused", R"({"command": "ReadSector", "after": 0, "fault": "fail"})",
              true},
        Fault{"PatternWriteRefused",
              R"({"command": "WriteSector", "after": 0, "fault": "fail", "times": 1})", true},
        Fault{"ReadBackRefused",
              R"({"command": "ReadSector", "after": 1, "fault": "fail", "times": 1})", true},
        Fault{"ReadBackDiffers",
              R"({"command": "ReadSector", "after": 1, "fault": "corrupt", "times": 1})", true},
        Fault{"LaterRoundDiffers",
              R"({"command": "ReadSector", "after": 5, "fault": "corrupt", "times": 1})", true},
        Fault{"RestoreRefused", R"({"command": "WriteSector", "after": 1, "fault": "fail"})",
              false},
        Fault{"ReaderPulled", R"({"command": "WriteSector", "after": 2, "fault": "pull"})", false},
        Fault{"NoCapacity", R"({"command": "GetCapacity", "after": 2, "fault": "fail"})", true}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ReadWriteTest, CapacityIsAskedTenTimesBeforeGivingUp) {
  startWithRounds(
      R"("cardSectors": 40001, "faults": [{"command": "GetCapacity", "after": 2, "fault": "fail"}])",
      3);
  EXPECT_FALSE(runStep(rwTest(1)));
  EXPECT_EQ(tracedStartingWith("GetCapacity Error Code ='"), 10);
  EXPECT_TRUE(readers->blockTransfers().empty());
}

} // namespace
} // namespace tarvix::run_test
