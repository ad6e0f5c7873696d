// The partition-size and controller reset steps on farm cards: the area sizes the controller lays
// out, the order of their commands, and what each refusal shows, traces and returns.
#include "run/step_fixture.h"

#include <fstream>

namespace tarvix::run_test {
namespace {

namespace id = station::id;

const std::string kClosed = "m_hUSBDeviceHandle close handle";
const std::string kBinSet = "SetBinAreaSize\r\n Success\r\n";
const std::string kCdromSet = "SetCDROMSize\r\n Success\r\n";
constexpr std::uint64_t kCard = 40001;

bool partitionSizes(const run::StepContext& c, int drive, station::PortRecord&) {
  return run::partitionSizeStep(c, drive);
}
bool controllerReset(const run::StepContext& c, int drive, station::PortRecord& p) {
  return run::controllerResetStep(c, drive, p);
}

class AreaSteps : public StepOnFarm {
protected:
  void startCard(const std::string& faults = "") {
    start(R"("cardSectors": )" + std::to_string(kCard) +
          (faults.empty() ? "" : R"(, "faults": [)" + faults + "]"));
  }
  void chooseBinary(std::uint32_t areaBytes) {
    check(id::kBinaryFile, true);
    station->window->binAreaSize = areaBytes;
  }
  // An ISO file of `bytes` bytes, chosen in the path box.
  void chooseIso(std::uint64_t bytes) {
    check(id::kCdromIso, true);
    const auto path = disk().image.parent_path() / "image.iso";
    std::ofstream(path, std::ios::binary) << std::string(static_cast<std::size_t>(bytes), 'i');
    station->window->setText(id::kIsoPath, path.string());
  }
  platform::sim::CardLayout layout() { return *station->farm->layout("r1"); }
  std::vector<std::uint8_t> infoSector() { return readImage((kCard - 1) * 512, 512); }
};

struct Sizes {
  const char* name;
  std::optional<std::uint32_t> binAreaBytes;
  std::optional<std::uint64_t> isoBytes;
  std::uint32_t binSectors;
  std::uint32_t cdromSectors;
};

class PartitionSizes : public AreaSteps, public ::testing::WithParamInterface<Sizes> {};

TEST_P(PartitionSizes, ControllerLaysOutTheAreasAfterOneReInitialisation) {
  const Sizes& s = GetParam();
  startCard();
  if (s.binAreaBytes) chooseBinary(*s.binAreaBytes);
  if (s.isoBytes) chooseIso(*s.isoBytes);
  ASSERT_TRUE(runStep(partitionSizes));
  EXPECT_EQ(layout().binSectors, s.binSectors);
  EXPECT_EQ(layout().cdRomSectors, s.cdromSectors);
  EXPECT_EQ(readers->vendorCount(kSubSetBinAreaSize), s.binAreaBytes ? 1 : 0);
  EXPECT_EQ(readers->vendorCount(kSubSetCdRomSize), s.isoBytes ? 1 : 0);
  EXPECT_EQ(readers->vendorCount(kSubReInitialCard), 1);
  EXPECT_EQ(traced(kBinSet), s.binAreaBytes ? 1 : 0);
  EXPECT_EQ(traced(kCdromSet), s.isoBytes ? 1 : 0);
  // One open per command group: each area, then the re-initialisation.
  EXPECT_EQ(traced(kClosed), (s.binAreaBytes ? 1 : 0) + (s.isoBytes ? 1 : 0) + 1);
  EXPECT_TRUE(controls->boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, PartitionSizes,
                         ::testing::Values(Sizes{"BinaryOfWholeSectors", 1536, std::nullopt, 3, 0},
                                           Sizes{"BinaryRoundsUp", 1537, std::nullopt, 4, 0},
                                           Sizes{"IsoGetsOneSectorMore", std::nullopt, 2048, 0, 5},
                                           Sizes{"IsoPartSectorDropped", std::nullopt, 2049, 0, 5},
                                           Sizes{"EmptyIsoStillOneSector", std::nullopt, 0, 0, 1},
                                           Sizes{"Both", 513 + 512, 10 * 512 + 7, 3, 11}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(AreaSteps, BothAreasAreSetInOrderThenTheCardReInitialisedOnce) {
  startCard();
  chooseBinary(1536);
  chooseIso(2048);
  ASSERT_TRUE(runStep(partitionSizes));
  std::vector<std::uint8_t> vendorOrder;
  for (const auto& s : readers->sent())
    if (s.subCode != kSubCapacity) vendorOrder.push_back(s.subCode);
  EXPECT_EQ(vendorOrder,
            (std::vector<std::uint8_t>{kSubSetBinAreaSize, kSubSetCdRomSize, kSubReInitialCard}));
}

TEST_F(AreaSteps, NeitherAreaChosenOpensNothing) {
  startCard();
  ASSERT_TRUE(runStep(partitionSizes));
  EXPECT_TRUE(readers->sent().empty());
  EXPECT_TRUE(station->trace.lines().empty());
}

TEST_F(AreaSteps, IsoFileGoneSizesTheAreaByTheLoadedImage) {
  startCard();
  check(id::kCdromIso, true);
  station->window->setText(id::kIsoPath, "/nonexistent/tarvix/image.iso");
  station->window->isoSize = 4096;
  ASSERT_TRUE(runStep(partitionSizes));
  EXPECT_EQ(layout().cdRomSectors, 9U);
}

TEST_F(AreaSteps, RefusedReInitialisationIsLeftToTheFollowingFormat) {
  startCard(R"({"command": "ReInitialCard", "fault": "fail"})");
  chooseBinary(1536);
  EXPECT_TRUE(runStep(partitionSizes));
  EXPECT_EQ(layout().binSectors, 0U);
}

struct Refusal {
  const char* name;
  const char* fault;
  const char* box;
  const char* trace;
  int cdromRequests;
};

class PartitionSizeRefusal : public AreaSteps, public ::testing::WithParamInterface<Refusal> {};

TEST_P(PartitionSizeRefusal, ShowsItsBoxTracesAndStops) {
  const Refusal& r = GetParam();
  startCard(r.fault);
  chooseBinary(1536);
  chooseIso(2048);
  EXPECT_FALSE(runStep(partitionSizes));
  EXPECT_EQ(controls->boxes(), std::vector<std::string>{r.box});
  EXPECT_EQ(traced(r.trace), 1);
  EXPECT_EQ(readers->vendorCount(kSubSetCdRomSize), r.cdromRequests);
  EXPECT_EQ(readers->vendorCount(kSubReInitialCard), 0);
  EXPECT_EQ(station->trace.lines().back(), kClosed);
  EXPECT_EQ(layout().binSectors, 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, PartitionSizeRefusal,
    ::testing::Values(Refusal{"BinaryArea", R"({"command": "SetBinAreaSize", "fault": "fail"})",
                              "SetBinAreaSize\r\n Error!\r\n", "SetBinAreaSize\r\n fail\r\n", 0},
                      Refusal{"CdromArea", R"({"command": "SetCDRomSize", "fault": "fail"})",
                              "SetCDROMSize \r\nError!\r\n", "SetCDROMSize\r\n fail\r\n", 1}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(AreaSteps, ResetClearsTheInformationBlockAndReturnsTheFactoryLayout) {
  startCard();
  chooseBinary(1536);
  chooseIso(2048);
  ASSERT_TRUE(runStep(partitionSizes));
  ASSERT_EQ(layout().binSectors, 3U);
  writeImage((kCard - 1) * 512 + 256, std::vector<std::uint8_t>(196, 0x5A));
  readers->clear();
  station->trace.clear();

  ASSERT_TRUE(runStep(controllerReset));
  EXPECT_EQ(layout().binSectors, 0U);
  EXPECT_EQ(layout().cdRomSectors, 0U);
  EXPECT_TRUE(allEqual(infoSector(), 0));
  EXPECT_EQ(progress(), (std::vector<int>{10, 120, 180}));
  std::vector<std::uint8_t> order;
  for (const auto& s : readers->sent())
    order.push_back(s.subCode);
  EXPECT_EQ(order, (std::vector<std::uint8_t>{kSubCapacity, kSubWriteCard, kSubFactoryDefault,
                                              kSubReInitialCard}));
  EXPECT_EQ(station->trace.lines().back(), kClosed);
}

struct ResetFault {
  const char* name;
  const char* fault;
  bool passes;
  const char* trace; // empty: no line of the step's own
  std::vector<int> progress;
  int informationWrites;
};

class ControllerResetFault : public AreaSteps, public ::testing::WithParamInterface<ResetFault> {};

TEST_P(ControllerResetFault, EndsWhereItsCommandFails) {
  const ResetFault& f = GetParam();
  startCard(f.fault);
  EXPECT_EQ(runStep(controllerReset), f.passes);
  if (*f.trace != '\0') {
    EXPECT_EQ(traced(f.trace), 1);
  }
  EXPECT_EQ(progress(), f.progress);
  EXPECT_EQ(readers->vendorCount(kSubWriteCard), f.informationWrites);
  EXPECT_EQ(traced(kClosed), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ControllerResetFault,
    ::testing::Values(
        ResetFault{"FactoryDefaultRefused",
                   R"({"command": "FactoryTotalDefault", "fault": "fail"})",
                   false,
                   "FactoryTotal\r\nDefault fail",
                   {10},
                   1},
        ResetFault{"ReInitialisationRefused",
                   R"({"command": "ReInitialCard", "fault": "fail"})",
                   false,
                   "ReInitialCard\r\n fail",
                   {10, 120},
                   1},
        ResetFault{"InformationBlockRefused",
                   R"({"command": "WriteCard", "fault": "fail"})",
                   true,
                   "",
                   {10, 120, 180},
                   1},
        // No capacity: no last sector to clear (never sector 0xFFFFFFFF), the reset goes on.
        ResetFault{"NoCapacity",
                   R"({"command": "GetCapacity", "after": 2, "fault": "fail"})",
                   true,
                   "",
                   {10, 120, 180},
                   0}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace tarvix::run_test
