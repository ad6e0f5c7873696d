// The read/write test on farm cards: rounds that leave the card as it was, a walk that keeps off
// the LUN's first thousandth and its end, the progress it shows, and every way a round can fail.
#include "run/step_fixture.h"

namespace tarvix::run_test {
namespace {

const std::string kPassed = "Read Write\r\nTest Pass!!";
const std::string kFailed = "Read Write\r\nTest Fail!!";

Step rwTest(int lun) {
  return [lun](const run::StepContext& c, int drive, station::PortRecord& p) {
    return run::readWriteTestStep(c, drive, p, lun);
  };
}

class ReadWriteTest : public StepOnFarm {
protected:
  void startWithRounds(const std::string& card, int rounds, bool accepted = true) {
    start(card, "VQ305A", kRowVq305a, accepted);
    options.readWriteTest = true;
    options.rwTestCount = rounds;
  }
  // Distinct data in every sector, so a sector put back in the wrong place shows.
  Bytes fillWithData() {
    Bytes bytes(static_cast<std::size_t>(diskSectors() * 512));
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9) * 7 + 1);
    writeImage(disk().firstByte, bytes);
    return bytes;
  }
  Bytes wholeDisk() { return readDisk(0, diskSectors()); }
};

struct Walk {
  const char* name;
  std::uint64_t cardSectors;
  int rounds;
  int lun;
  std::vector<int> progress; // checked for up to ten rounds
  bool wraps = false;
};

class ReadWriteWalk : public ReadWriteTest, public ::testing::WithParamInterface<Walk> {};

// Each round saves one run twice, writes and reads back the pattern, then restores the run and
// reads it back. A run starts at or after N / 1000,
// ends inside the LUN, keeps 128 sectors off its end where the LUN has room, and moves on by the
// run's length or wraps to N / 1000.
TEST_P(ReadWriteWalk, RoundsWalkTheLunAndLeaveItAsItWas) {
  const Walk& w = GetParam();
  startWithRounds(R"("cardSectors": )" + std::to_string(w.cardSectors), w.rounds,
                  w.cardSectors > 2048);
  const auto before = fillWithData();
  const std::uint64_t n = diskSectors();
  const std::uint64_t first = n / 1000;
  const station::SlotColour colourBefore = colour();
  ASSERT_TRUE(runStep(rwTest(w.lun)));
  EXPECT_EQ(line(), kPassed);
  EXPECT_EQ(colour(), colourBefore);
  EXPECT_TRUE(wholeDisk() == before);
  EXPECT_EQ(readers->vendorCount(kSubCapacity), 1);
  if (w.rounds <= 10) {
    EXPECT_EQ(progress(), w.progress);
  }

  const auto transfers = readers->blockTransfers();
  const std::size_t rounds = w.rounds > 0 ? static_cast<std::size_t>(w.rounds) : 0;
  constexpr std::size_t kPerRound = 6;
  ASSERT_EQ(transfers.size(), kPerRound * rounds);
  int wraps = 0;
  for (std::size_t r = 0; r < rounds; ++r) {
    const SentRequest* round = &transfers[kPerRound * r];
    EXPECT_TRUE(round[0].isRead() && round[1].isRead() && round[2].isWrite() && round[3].isRead() &&
                round[4].isWrite() && round[5].isRead());
    for (std::size_t i = 1; i < kPerRound; ++i)
      EXPECT_TRUE(round[i].block == round[0].block && round[i].bytes == round[0].bytes) << r;
    EXPECT_TRUE(round[0].bytes >= 512 && round[0].bytes <= 65536) << r;
    EXPECT_GE(round[0].block, first) << r;
    EXPECT_LE(round[0].block + round[0].bytes / 512, n) << r;
    EXPECT_TRUE(round[0].block + 128 < n || round[0].block == first) << r;
    if (r > 0) {
      const SentRequest& previous = transfers[kPerRound * (r - 1)];
      EXPECT_TRUE(round[0].block == previous.block + previous.bytes / 512 ||
                  round[0].block == first)
          << r;
      wraps += round[0].block == first;
    }
  }
  if (w.wraps) {
    EXPECT_GT(wraps, 0);
  }
  EXPECT_EQ(lastTrace(), kClosed);
}

INSTANTIATE_TEST_SUITE_P(
    Walks, ReadWriteWalk,
    ::testing::Values(
        // Progress rises by a fifth of the LUN's share each round, from 95 + 5 * LUN.
        Walk{"FiveRounds", 40001, 5, 1, {100, 101, 102, 103, 104}},
        Walk{"LunTwo", 40001, 3, 2, {105, 106, 108}},
        Walk{"LunFour", 40001, 10, 4, {115, 115, 116, 116, 117, 117, 118, 118, 119, 119}},
        Walk{"WrapsBackToTheFirstThousandth", 2301, 80, 1, {}, true},
        Walk{"LunTooSmallForAWholeRun",
             101,
             10,
             1,
             {100, 100, 101, 101, 102, 102, 103, 103, 104, 104}},
        Walk{"NoRounds", 40001, 0, 1, {}}, Walk{"NegativeRounds", 40001, -3, 1, {}}),
    kCaseName);

TEST_F(ReadWriteTest, ThePatternAlwaysDiffersFromWhatTheCardHolds) {
  startWithRounds(R"("cardSectors": 40001)", 1);
  clock->pin(1234);
  ASSERT_TRUE(runStep(rwTest(1)));
  const auto first = readers->blockTransfers();
  ASSERT_EQ(first.size(), 6U);
  // Whatever one byte the pinned tick makes of the pattern, some fill below equals it.
  for (int value = 0; value < 256; ++value) {
    fillDisk(first[0].block, first[0].bytes / 512, static_cast<std::uint8_t>(value));
    readers->clear();
    ASSERT_TRUE(runStep(rwTest(1))) << value;
    const auto transfers = readers->blockTransfers();
    ASSERT_EQ(transfers.size(), 6U);
    const SentRequest& patternWrite = transfers[2];
    ASSERT_EQ(patternWrite.block, first[0].block);
    EXPECT_FALSE(allEqual(patternWrite.data, static_cast<std::uint8_t>(value))) << value;
  }
}

struct Fault {
  const char* name;
  std::string faults;
  bool cardUnchanged;
  int capacityErrors = 0;
};

class ReadWriteTestFault : public ReadWriteTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(ReadWriteTestFault, FailsRedAndPutsTheSavedSectorsBack) {
  const Fault& f = GetParam();
  startWithRounds(R"("cardSectors": 40001, "faults": [)" + std::string(f.faults) + "]", 3);
  const auto before = fillWithData();
  EXPECT_FALSE(runStep(rwTest(1)));
  EXPECT_EQ(lines().back(), kFailed);
  EXPECT_EQ(colour(), station::SlotColour::Failed);
  EXPECT_EQ(traced(kClosed), 1);
  // The capacity is asked ten times before the step gives up.
  EXPECT_EQ(traced("GetCapacity Error Code ='", true), f.capacityErrors);
  if (f.cardUnchanged) {
    EXPECT_TRUE(wholeDisk() == before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReadWriteTestFault,
    ::testing::Values(
        Fault{"SavingReadRefused", fault("ReadSector", 0, "fail"), true},
        // Reads of a round: the save twice, the pattern's read-back, the restore's read-back.
        Fault{"SavingReadCorrupted", fault("ReadSector", 0, "corrupt", 1), true},
        Fault{"PatternWriteRefused", fault("WriteSector", 0, "fail", 1), true},
        Fault{"ReadBackRefused", fault("ReadSector", 2, "fail", 1), true},
        Fault{"ReadBackDiffers", fault("ReadSector", 2, "corrupt", 1), true},
        Fault{"RestoreReadsBackDifferent", fault("ReadSector", 3, "corrupt", 1), true},
        Fault{"LaterRoundDiffers", fault("ReadSector", 6, "corrupt", 1), true},
        Fault{"RestoreRefused", fault("WriteSector", 1, "fail"), false},
        Fault{"ReaderPulled", fault("WriteSector", 2, "pull"), false},
        Fault{"NoCapacity", fault("GetCapacity", 1, "fail"), true, 10}),
    kCaseName);

} // namespace
} // namespace tarvix::run_test
