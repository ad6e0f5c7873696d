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
  EXPECT_EQ(line(), "Fake card!!\r\nreal " + std::to_string(f.realMiB) + " MB");
  EXPECT_EQ(colour(), station::SlotColour::Failed);
  EXPECT_EQ(record().verdict, station::CapacityVerdict::Forged);
  EXPECT_EQ(record().realMiB, f.realMiB);
  EXPECT_LE(bytesMoved(), kBudgetBytes);
}

constexpr const char* kWrap = R"("forgery": "wrap")";
constexpr const char* kDrop = R"("forgery": "drop")";
constexpr const char* kDropFf = R"("forgery": "drop", "dropReads": "ff")";

// One MiB short and an eighth, as the pass oracle also runs them end to end; odd sizes; cards
// whose flash is exactly half what they claim, from 128 MiB to 32 GiB.
INSTANTIATE_TEST_SUITE_P(
    WrapAndDrop, ForgedCards,
    ::testing::Values(
        Forged{"wrapOneMiBShort", 64, 63, kWrap}, Forged{"wrapEighth", 64, 8, kWrap},
        Forged{"dropOneMiBShort", 64, 63, kDrop}, Forged{"dropOdd", 64, 37, kDropFf},
        Forged{"dropEighth", 64, 8, kDrop}, Forged{"dropThird", 48, 16, kDrop},
        Forged{"dropThirdFf", 48, 16, kDropFf}, Forged{"wrapGiBThreeQuarters", 1024, 768, kWrap},
        Forged{"dropGiBOdd", 1024, 700, kDropFf}, Forged{"wrap32GiBOdd", 32768, 20011, kWrap},
        Forged{"drop32GiBOdd", 32768, 5003, kDrop}, Forged{"wrapHalf128MiB", 128, 64, kWrap},
        Forged{"dropHalf128MiB", 128, 64, kDrop}, Forged{"wrapHalf2GiB", 2048, 1024, kWrap},
        Forged{"wrapHalf4GiB", 4096, 2048, kWrap}, Forged{"wrapHalf8GiB", 8192, 4096, kWrap},
        Forged{"wrapHalf16GiB", 16384, 8192, kWrap}, Forged{"wrapHalf32GiB", 32768, 16384, kWrap},
        Forged{"dropHalf32GiB", 32768, 16384, kDropFf}),
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

// A read that fails, or one the reader damages, on an honest card: the check cannot tell, so it
// fails unfinished rather than call the card fake, and puts back what it covered.
class UnreadCards : public CapacityCheck, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnreadCards, EndTheCheckUnfinishedAndTheCardRestored) {
  startChecked(std::string(R"("cardMiB": 16, "faults": [{"command": "ReadSector", "after": 40, )") +
               GetParam() + R"(, "times": 1}])");
  const auto before = fillWithData(diskSectors());
  EXPECT_FALSE(runStep(capacityCheck()));
  EXPECT_EQ(line(), "Capacity\r\nCheck Fail!!");
  EXPECT_EQ(colour(), station::SlotColour::Failed);
  EXPECT_EQ(record().verdict, station::CapacityVerdict::Unfinished);
  EXPECT_TRUE(readDisk(0, diskSectors()) == before);
}

INSTANTIATE_TEST_SUITE_P(FailedOrDamaged, UnreadCards,
                         ::testing::Values(R"("fault": "fail")", R"("fault": "corrupt")"));

} // namespace
} // namespace tarvix::run_test
