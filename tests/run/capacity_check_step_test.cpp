// The capacity check on farm cards: forged cards of every kind and many real sizes fail with
// their real size, honest cards of every layout pass and keep their content, and no card costs
// more than 24 MiB of transfers.
#include "run/step_fixture.h"

namespace tarvix::run_test {
namespace {

constexpr std::uint64_t kBudgetBytes = 24u << 20;

Step capacityCheck() {
  return [](const run::StepContext& c, int drive, station::PortRecord&) {
    return run::capacityCheckStep(c, drive);
  };
}

class CapacityCheck : public StepOnFarm {
protected:
  void startChecked(const std::string& card, const std::string& model = "VQ305A",
                    int icType = kRowVq305a) {
    start(card, model, icType);
    options.capacityCheck = true;
  }
  std::uint64_t bytesMoved() {
    std::uint64_t bytes = 0;
    for (const SentRequest& s : readers->blockTransfers())
      bytes += s.bytes;
    return bytes;
  }
  // Distinct bytes in every sector of the first LUN's first `sectors`.
  Bytes fillWithData(std::uint64_t sectors) {
    Bytes bytes(static_cast<std::size_t>(sectors * 512));
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 13 + (i >> 9) * 5 + 3);
    writeImage(disk().firstByte, bytes);
    return bytes;
  }
  const run::CapacityCheckResult& record() {
    return outcome.capacityChecks[state->driveRecords[drive()].lun - 1];
  }
};

struct Forged {
  const char* name;
  std::uint64_t cardMiB;
  std::uint64_t realMiB;
  const char* forgery;
};

class ForgedCards : public CapacityCheck, public ::testing::WithParamInterface<Forged> {};

TEST_P(ForgedCards, FailWithTheirRealSize) {
  const Forged& f = GetParam();
  startChecked(R"("cardMiB": )" + std::to_string(f.cardMiB) + R"(, "realMiB": )" +
               std::to_string(f.realMiB) + ", " + f.forgery);
  EXPECT_FALSE(runStep(capacityCheck()));
  const std::string shown = line();
  const std::string head = "Fake card!!\r\nreal ";
  ASSERT_EQ(shown.rfind(head, 0), 0u) << shown;
  ASSERT_TRUE(shown.ends_with(" MB")) << shown;
  const auto estimate = std::stoull(shown.substr(head.size()));
  const double off = std::abs(static_cast<double>(estimate) - static_cast<double>(f.realMiB));
  EXPECT_LE(off, std::max(1.0, 0.01 * static_cast<double>(f.realMiB))) << shown;
  EXPECT_EQ(colour(), station::SlotColour::Failed);
  EXPECT_EQ(record().verdict, station::CapacityVerdict::Forged);
  EXPECT_EQ(record().realMiB, estimate);
  EXPECT_LE(bytesMoved(), kBudgetBytes);
}

// One MiB short and an eighth, as the pass oracle also runs them end to end; odd sizes; 0xFF reads.
INSTANTIATE_TEST_SUITE_P(
    WrapAndDrop, ForgedCards,
    ::testing::Values(Forged{"wrapOneMiBShort", 64, 63, R"("forgery": "wrap")"},
                      Forged{"wrapEighth", 64, 8, R"("forgery": "wrap")"},
                      Forged{"dropOneMiBShort", 64, 63, R"("forgery": "drop")"},
                      Forged{"dropOdd", 64, 37, R"("forgery": "drop", "dropReads": "ff")"},
                      Forged{"dropEighth", 64, 8, R"("forgery": "drop")"},
                      Forged{"wrapGiBThreeQuarters", 1024, 768, R"("forgery": "wrap")"},
                      Forged{"dropGiBOdd", 1024, 700, R"("forgery": "drop", "dropReads": "ff")"},
                      Forged{"wrap32GiBOdd", 32768, 20011, R"("forgery": "wrap")"},
                      Forged{"drop32GiBOdd", 32768, 5003, R"("forgery": "drop")"}),
    kCaseName);

struct Honest {
  const char* name;
  const char* model;
  int icType;
  const char* card;
};

class HonestCards : public CapacityCheck, public ::testing::WithParamInterface<Honest> {};

TEST_P(HonestCards, PassAndKeepTheirContent) {
  const Honest& h = GetParam();
  startChecked(h.card, h.model, h.icType);
  const auto before = fillWithData(diskSectors());
  const std::string lineBefore = line();
  EXPECT_TRUE(runStep(capacityCheck()));
  EXPECT_TRUE(readDisk(0, diskSectors()) == before);
  EXPECT_EQ(line(), lineBefore);
  EXPECT_EQ(record().verdict, station::CapacityVerdict::Genuine);
  EXPECT_GE(bytesMoved(), 5u * 16 * 65536) << "a 16 MiB card gets a block in every MiB";
}

// Every layout of a model: the one-LUN models differ only in a product id the check never reads.
INSTANTIATE_TEST_SUITE_P(
    EveryLayout, HonestCards,
    ::testing::Values(Honest{"VQ301C_A_1LUN", "VQ301C-A-1LUN", 3, R"("cardMiB": 16)"},
                      Honest{"VQ301C_A_2LUN", "VQ301C-A-2LUN", 4, R"("cardMiB": 16)"},
                      Honest{"VQ305A", "VQ305A", 5, R"("cardSectors": 33000)"},
                      Honest{"VQ307B2B_2LUN", "VQ307B2B-2LUN", 7,
                             R"("cards": [{"cardMiB": 16}, {"cardMiB": 16}])"},
                      Honest{"VQ348", "VQ348", 8, R"("cardMiB": 16, "partitioned": true)"}),
    kCaseName);

TEST_F(CapacityCheck, ALargeCardGetsSixtyFourBlocksWithinTheBudget) {
  startChecked(R"("cardMiB": 32768)");
  EXPECT_TRUE(runStep(capacityCheck()));
  const auto transfers = readers->blockTransfers();
  std::set<std::uint32_t> blocks;
  for (const SentRequest& s : transfers)
    blocks.insert(s.block);
  EXPECT_GE(blocks.size(), 64u);
  EXPECT_TRUE(blocks.contains(0) &&
              blocks.contains(static_cast<std::uint32_t>(diskSectors() - 128)));
  EXPECT_LE(bytesMoved(), kBudgetBytes);
}

TEST_F(CapacityCheck, ATransferThatFailsEndsTheCheckUnfinishedAndTheCardRestored) {
  startChecked(R"("cardMiB": 16, "faults": [{"command": "ReadSector", "after": 40, "fault": "fail",
               "times": 1}])");
  const auto before = fillWithData(diskSectors());
  EXPECT_FALSE(runStep(capacityCheck()));
  EXPECT_EQ(line(), "Capacity\r\nCheck Fail!!");
  EXPECT_EQ(colour(), station::SlotColour::Failed);
  EXPECT_EQ(record().verdict, station::CapacityVerdict::Unfinished);
  EXPECT_TRUE(readDisk(0, diskSectors()) == before);
}

} // namespace
} // namespace tarvix::run_test
