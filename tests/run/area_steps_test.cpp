// The partition-size and controller reset steps on farm cards: the area sizes the controller lays
// out, the order of their commands, and what each refusal shows, traces and returns.
#include "run/step_fixture.h"

namespace tarvix::run_test {
namespace {

constexpr std::uint64_t kCard = 40001;

bool partitionSizes(const run::StepContext& c, int drive, station::PortRecord&) {
  return run::partitionSizeStep(c, drive);
}

class AreaSteps : public StepOnFarm {
protected:
  void startCard(const std::string& faults = "") {
    start(R"("cardSectors": )" + std::to_string(kCard) +
          (faults.empty() ? "" : R"(, "faults": [)" + faults + "]"));
  }
  void chooseBinary(std::uint32_t areaBytes) {
    options.binaryArea = true;
    images.binAreaSize = areaBytes;
  }
  // An ISO file of `bytes` bytes, chosen in the path box.
  void chooseIso(std::uint64_t bytes) {
    options.cdromArea = true;
    const auto path = disk().image.parent_path() / "image.iso";
    std::ofstream(path, std::ios::binary) << std::string(static_cast<std::size_t>(bytes), 'i');
    options.isoPath = path.string();
  }
  platform::sim::CardLayout layout() { return *farm->layout("r1"); }
  Bytes vendorOrderWithoutCapacity() {
    Bytes order = readers->vendorOrder();
    std::erase(order, kSubCapacity);
    return order;
  }
};

struct Sizes {
  const char* name;
  std::optional<std::uint32_t> binAreaBytes;
  std::optional<std::uint64_t> isoBytes;
  std::uint32_t binSectors;
  std::uint32_t cdromSectors;
  bool isoGone = false; // the ISO file is gone: the loaded image of isoBytes sizes the area
};

class PartitionSizes : public AreaSteps, public ::testing::WithParamInterface<Sizes> {};

TEST_P(PartitionSizes, ControllerLaysOutTheAreasInOrderThenReInitialisesOnce) {
  const Sizes& s = GetParam();
  startCard();
  if (s.binAreaBytes) chooseBinary(*s.binAreaBytes);
  if (s.isoBytes) chooseIso(*s.isoBytes);
  if (s.isoGone) {
    options.isoPath = "/nonexistent/tarvix/image.iso";
    images.isoSize = static_cast<std::uint32_t>(*s.isoBytes);
  }
  ASSERT_TRUE(runStep(partitionSizes));
  EXPECT_EQ(layout().binSectors, s.binSectors);
  EXPECT_EQ(layout().cdRomSectors, s.cdromSectors);
  Bytes order;
  if (s.binAreaBytes) order.push_back(kSubSetBinAreaSize);
  if (s.isoBytes) order.push_back(kSubSetCdRomSize);
  order.push_back(kSubReInitialCard);
  // One open per command group: each area, then the re-initialisation; the layout is judged by
  // the capacities alone, never by the controller's bytes in the card's last sector.
  const auto opens = static_cast<int>(order.size());
  EXPECT_EQ(vendorOrderWithoutCapacity(), order);
  EXPECT_EQ(traced("SetBinAreaSize\r\n Success\r\n"), s.binAreaBytes ? 1 : 0);
  EXPECT_EQ(traced("SetCDROMSize\r\n Success\r\n"), s.isoBytes ? 1 : 0);
  EXPECT_EQ(traced(kClosed), opens);
  EXPECT_TRUE(controls->boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, PartitionSizes,
                         ::testing::Values(Sizes{"BinaryOfWholeSectors", 1536, std::nullopt, 3, 0},
                                           Sizes{"BinaryRoundsUp", 1537, std::nullopt, 4, 0},
                                           Sizes{"IsoGetsOneSectorMore", std::nullopt, 2048, 0, 5},
                                           Sizes{"IsoPartSectorDropped", std::nullopt, 2049, 0, 5},
                                           Sizes{"EmptyIsoStillOneSector", std::nullopt, 0, 0, 1},
                                           Sizes{"Both", 513 + 512, 10 * 512 + 7, 3, 11},
                                           Sizes{"IsoGone", std::nullopt, 4096, 0, 9, true}),
                         kCaseName);

// The controller's answer to the re-initialisation is not believed; the public disk it then
// reports must leave room for the areas just set.
TEST_F(AreaSteps, ReLaidCardMustMakeRoomForTheSizesJustSet) {
  struct Case {
    const char* name;
    std::string fault;
    std::uint64_t earlierIso; // an earlier run with both areas; 0: a fresh card
    std::uint64_t iso;
    bool passes;
    std::uint32_t cdromSectors; // in force afterwards
  } cases[] = {
      {"refused on a fresh card", fault("ReInitialCard", 0, "fail"), 0, 2048, false, 0},
      {"refused for a larger ISO", fault("ReInitialCard", 1, "fail"), 2048, 20480, false, 5},
      {"earlier binary area stays", "", 20480, 2048, true, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    startCard(c.fault);
    if (c.earlierIso != 0) {
      chooseBinary(1536);
      chooseIso(c.earlierIso);
      ASSERT_TRUE(runStep(partitionSizes));
      options.binaryArea = false;
      trace.clear();
    }
    chooseIso(c.iso);
    EXPECT_EQ(runStep(partitionSizes), c.passes);
    EXPECT_EQ(traced("ReInitialCard\r\n fail"), c.passes ? 0 : 1);
    EXPECT_EQ(line(), c.passes ? "" : "ReInitialCard\r\nFail!!");
    EXPECT_EQ(layout().cdRomSectors, c.cdromSectors);
    EXPECT_EQ(lastTrace(), kClosed);
  }
}

// The port's line keeps the box's text: a port that failed here says so after the box is gone.
TEST_F(AreaSteps, RefusedAreaShowsItsBoxTracesAndStops) {
  struct Case {
    std::string fault;
    const char* box;
    const char* trace;
    Bytes order;
  } cases[] = {
      {fault("SetBinAreaSize", 0, "fail"),
       "SetBinAreaSize\r\n Error!\r\n",
       "SetBinAreaSize\r\n fail\r\n",
       {kSubSetBinAreaSize}},
      {fault("SetCDRomSize", 0, "fail"),
       "SetCDROMSize \r\nError!\r\n",
       "SetCDROMSize\r\n fail\r\n",
       {kSubSetBinAreaSize, kSubSetCdRomSize}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    startCard(c.fault);
    chooseBinary(1536);
    chooseIso(2048);
    EXPECT_FALSE(runStep(partitionSizes));
    EXPECT_EQ(controls->boxes(), std::vector<std::string>{c.box});
    EXPECT_EQ(line(), c.box);
    EXPECT_EQ(colour(), station::SlotColour::Failed);
    EXPECT_EQ(traced(c.trace), 1);
    EXPECT_EQ(vendorOrderWithoutCapacity(), c.order); // never re-initialised
    EXPECT_EQ(lastTrace(), kClosed);
    EXPECT_EQ(layout().binSectors, 0U);
  }
}

// A reset clears the information block and returns the factory layout; a failing command ends it
// where it fails.
TEST_F(AreaSteps, ResetReturnsTheFactoryLayoutOrEndsWhereItsCommandFails) {
  struct Case {
    std::string fault;
    bool passes;
    const char* trace; // empty: no line of the step's own
    std::vector<int> progress;
    int informationWrites;
  } cases[] = {
      {"", true, "", {10, 120, 180}, 1},
      {fault("FactoryTotalDefault", 0, "fail"), false, "FactoryTotal\r\nDefault fail", {10}, 1},
      {fault("ReInitialCard", 0, "fail"), false, "ReInitialCard\r\n fail", {10, 120}, 1},
      {fault("WriteCard", 0, "fail"), true, "", {10, 120, 180}, 1},
      // No capacity: no last sector to clear (never sector 0xFFFFFFFF), the reset goes on.
      {fault("GetCapacity", 1, "fail"), true, "", {10, 120, 180}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    startCard(c.fault);
    if (c.fault.empty()) {
      chooseBinary(1536);
      chooseIso(2048);
      ASSERT_TRUE(runStep(partitionSizes));
      ASSERT_EQ(layout().binSectors, 3U);
      writeImage((kCard - 1) * 512 + 256, Bytes(196, 0x5A));
      readers->clear();
      trace.clear();
    }
    EXPECT_EQ(runStep(run::controllerResetStep), c.passes);
    if (*c.trace != '\0') {
      EXPECT_EQ(traced(c.trace), 1);
    }
    EXPECT_EQ(progress(), c.progress);
    EXPECT_EQ(readers->vendorCount(kSubWriteCard), c.informationWrites);
    EXPECT_EQ(traced(kClosed), 1);
    if (c.fault.empty()) {
      EXPECT_EQ(layout().binSectors, 0U);
      EXPECT_EQ(layout().cdRomSectors, 0U);
      EXPECT_TRUE(allEqual(readImage((kCard - 1) * 512, 512), 0));
      EXPECT_EQ(readers->vendorOrder(),
                (Bytes{kSubCapacity, kSubWriteCard, kSubFactoryDefault, kSubReInitialCard}));
    }
  }
}

} // namespace
} // namespace tarvix::run_test
