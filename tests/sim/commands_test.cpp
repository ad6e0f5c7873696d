// The emulated controller's answers to each command, driven through the station's own channel
// functions, and its refusal of blocks that are not exactly as the command set lays them out.
#include "channel/command_blocks.h"
#include "sim/sim_fixture.h"

#include <array>
#include <cerrno>
#include <functional>
#include <tuple>

namespace tarvix::sim_test {
namespace {

using namespace channel;

// Each model's identity, configuration and EEPROM, and the card type byte of each kind of card,
// as the station's probe judges them: the discovery tests' probe on simulated readers.

TEST_F(FarmTest, IdentityOverridesReplaceTheModelsIdentity) {
  load(oneReader("VQ301A", R"("cardSectors": 4096, "vid": "1234", "pid": "abcd",
                              "config3E": "00 01 02 03 14 01 02 03 08 09 0a 0b 0c 0d 0e 0f")"));
  auto holder = openReader("r1");
  std::array<std::uint8_t, 512> reply{};
  ASSERT_TRUE(GetVIDPID(*holder, kVidPidIdentity, reply));
  EXPECT_EQ((std::vector<std::uint8_t>(reply.begin(), reply.begin() + 4)),
            (std::vector<std::uint8_t>{0x12, 0x34, 0xAB, 0xCD}));
  ASSERT_TRUE(GetVIDPID(*holder, kVidPidConfiguration, reply));
  EXPECT_EQ(reply[4], 0x14);
  EXPECT_EQ(reply[15], 0x0F);
  EXPECT_EQ(reply[16], 0x00);
}

TEST_F(FarmTest, CapacityOfTheCardAndOfEachUnit) {
  load(oneReader("VQ307B2B-2LUN",
                 R"("cards": [ { "cardSectors": 8192 }, { "cardMiB": 1, "cardType": "MS" } ])"));
  auto holder = openReader("r1");
  std::uint32_t count = 0;
  std::uint32_t size = 0;
  ASSERT_TRUE(GetCapacity(*holder, count, size));
  EXPECT_EQ(count, 8192u);
  EXPECT_EQ(size, 512u);
  EXPECT_EQ(unitCapacity(*holder, 0), 8191u); // the last sector holds the card information
  EXPECT_EQ(unitCapacity(*holder, 1), 2048u); // the whole second card
  count = 77;
  EXPECT_FALSE(GetCapacity(*holder, count, size, 2));
  EXPECT_EQ(count, 77u);
  // The second letter reads its own card's type.
  auto second = openReader("r1", 1);
  std::array<std::uint8_t, 512> reply{};
  ASSERT_TRUE(GetVIDPID(*second, kVidPidCardType, reply));
  EXPECT_EQ(reply[0], 0xFD);
}

TEST_F(FarmTest, NoCardFailsEveryCardCommandButIdentityStillAnswers) {
  load(oneReader("VQ301C-A-1LUN"));
  auto holder = openReader("r1");
  std::uint32_t count = 0;
  std::uint32_t size = 0;
  EXPECT_FALSE(GetCapacity(*holder, count, size));
  EXPECT_FALSE(GetCapacity(*holder, count, size, 0));
  std::vector<std::uint8_t> sector(512);
  EXPECT_FALSE(ReadCard(*holder, sector, 0));
  EXPECT_FALSE(ReadSector(*holder, sector, 0));
  EXPECT_FALSE(SetBinAreaSize(*holder, 8));
  EXPECT_FALSE(ReInitialCard(*holder));
  std::array<std::uint8_t, 512> reply{};
  EXPECT_TRUE(GetVIDPID(*holder, kVidPidIdentity, reply));
  EXPECT_NE(farm->drives().inspect('D'), std::nullopt)
      << "a reader without a card keeps its letter";
}

TEST_F(FarmTest, WholeCardTransfersMoveExactlyTheirLengthIncludingAPartialSector) {
  load(oneReader("VQ301C", R"("cardSectors": 4096)"));
  auto holder = openReader("r1");
  // 65,537 bytes: one request of 128 sectors, then one of 1 byte whose sector count is 0.
  const std::vector<std::uint8_t> data = pattern(65537, 3);
  ASSERT_TRUE(WriteCard(*holder, data, 10));
  const auto image = farm->cardImagePath("r1");
  EXPECT_EQ(readFile(image, 10 * 512, data.size()), data);
  EXPECT_EQ(readFile(image, 10 * 512 + 65537, 1)[0], 0)
      << "the byte after the transfer is untouched";
  std::vector<std::uint8_t> back(65537);
  ASSERT_TRUE(ReadCard(*holder, back, 10));
  EXPECT_EQ(back, data);
}

struct ForgedCard {
  const char* name;
  const char* fields;
  int beyondRead; // the byte a block written beyond the real size reads back as; -1: its own data
  bool aliases;   // that write landed on the block at the real size's remainder
};

class ForgedCards : public FarmTest, public ::testing::WithParamInterface<ForgedCard> {};

// A 4 MiB card with 1 MiB of flash: it reports its full size everywhere, while a write at 3 MiB
// lands on 0 (wrap) or is lost (drop); the information sector stays the controller's.
TEST_P(ForgedCards, ReportTheirFullSizeAndForgeWhatLiesBeyondTheirFlash) {
  load(oneReader("VQ301C", std::string(R"("cardMiB": 4, "realMiB": 1, )") + GetParam().fields));
  auto holder = openReader("r1");
  EXPECT_EQ(unitCapacity(*holder, 0), 4u * 2048 - 1);
  const auto low = pattern(65536, 1);
  const auto high = pattern(65536, 2);
  constexpr std::uint32_t kHigh = 3 * 2048;
  ASSERT_TRUE(WriteSector(*holder, low, 0));
  ASSERT_TRUE(WriteSector(*holder, high, kHigh));
  std::vector<std::uint8_t> back(65536);
  ASSERT_TRUE(ReadSector(*holder, back, kHigh));
  if (GetParam().beyondRead < 0)
    EXPECT_EQ(back, high);
  else
    EXPECT_EQ(back,
              std::vector<std::uint8_t>(65536, static_cast<std::uint8_t>(GetParam().beyondRead)));
  ASSERT_TRUE(ReadSector(*holder, back, 0));
  EXPECT_EQ(back, GetParam().aliases ? high : low);

  ASSERT_TRUE(SetBinAreaSize(*holder, 7));
  std::uint32_t sectors = 0;
  std::uint32_t size = 0;
  ASSERT_TRUE(GetCapacity(*holder, sectors, size));
  std::vector<std::uint8_t> infoSector(512);
  ASSERT_TRUE(ReadCard(*holder, infoSector, sectors - 1));
  EXPECT_EQ(infoSector[11], 7) << "the information sector keeps what was set";
}

INSTANTIATE_TEST_SUITE_P(
    Forgeries, ForgedCards,
    ::testing::Values(ForgedCard{"wrap", R"("forgery": "wrap")", -1, true},
                      ForgedCard{"drop", R"("forgery": "drop")", 0x00, false},
                      ForgedCard{"dropFF", R"("forgery": "drop", "dropReads": "ff")", 0xFF, false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(FarmTest, EepromKeepsWhatIsWrittenBesideTheCardImage) {
  load(oneReader("VQ348", R"("cardSectors": 4096, "eeprom": "5651 4137 3038")"));
  auto holder = openReader("r1");
  std::array<std::uint8_t, 128> first{};
  ASSERT_TRUE(ReadEEPROM(*holder, first));
  EXPECT_EQ(std::string(first.begin() + 2, first.begin() + 6), "A708");
  const std::vector<std::uint8_t> image = pattern(93, 0x40);
  ASSERT_TRUE(WriteEEPROM(*holder, image));
  std::vector<std::uint8_t> back(93);
  ASSERT_TRUE(ReadEEPROM(*holder, back));
  EXPECT_EQ(back, image);
  EXPECT_EQ(readFile(farm->eepromPath("r1"), 0, 93), image);
  EXPECT_EQ(farm->eepromBytes("r1").size(), 256u);
  // A second farm on the same folder finds the EEPROM as it was left.
  holder.reset();
  farm.reset();
  load(oneReader("VQ348", R"("cardSectors": 4096)"));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), farm->eepromBytes("r1").begin()));
}

// Each case spoils one thing in a correct request; a strict controller refuses all of them.
TEST_F(FarmTest, BlocksThatAreNotExactlyAsLaidOutEndInCheckCondition) {
  load(oneReader("VQ348", R"("cardSectors": 4096)"));
  using R = platform::PassThroughRequest;
  const std::tuple<const char*, R, std::function<void(R&)>> cases[] = {
      {"signature", areaTransferRequest(Command::ReadCard, 0, 512),
       [](R& r) { r.commandBlock[3] = 0x4C; }},
      {"reserved byte 11", areaTransferRequest(Command::ReadCard, 0, 512),
       [](R& r) { r.commandBlock[11] = 1; }},
      {"sector count", areaTransferRequest(Command::ReadCard, 0, 1024),
       [](R& r) { r.commandBlock[10] = 1; }},
      {"direction", areaTransferRequest(Command::ReadCard, 0, 512),
       [](R& r) { r.direction = DataDirection::Out; }},
      {"unknown sub-code", areaTransferRequest(Command::ReadCard, 0, 512),
       [](R& r) { r.commandBlock[1] = 0x77; }},
      {"unknown opcode", readSectorRequest(0, 512), [](R& r) { r.commandBlock[0] = 0x88; }},
      {"READ(10) flags", readSectorRequest(0, 512), [](R& r) { r.commandBlock[1] = 0x08; }},
      {"READ(10) count", readSectorRequest(0, 512), [](R& r) { r.commandBlock[8] = 2; }},
      {"capacity both forms", getCapacityCardRequest(), [](R& r) { r.commandBlock[5] = 1; }},
      {"capacity length", getCapacityCardRequest(), [](R& r) { r.dataLength = 16; }},
      {"no-data with data", reInitialCardRequest(),
       [](R& r) {
         r.dataLength = 512;
         r.direction = DataDirection::In;
       }},
      {"factory flag", factoryTotalDefaultRequest(), [](R& r) { r.commandBlock[7] = 2; }},
      {"size with count", setBinAreaSizeRequest(8), [](R& r) { r.commandBlock[9] = 1; }},
      {"EEPROM length", readEepromRequest(16), [](R& r) { r.dataLength = 17; }},
      {"EEPROM zero", readEepromRequest(0), [](R&) {}},
      {"VIDPID argument", getVidPidRequest(0x14), [](R& r) { r.commandBlock[6] = 1; }},
  };
  const platform::ReaderHandle handle = farm->readerAccess().open("D:");
  ASSERT_NE(handle, platform::kNoReader);
  for (auto [what, request, spoil] : cases) {
    spoil(request);
    std::vector<std::uint8_t> buffer(70000);
    request.data = buffer.data();
    request.senseLength = 32;
    EXPECT_FALSE(farm->readerAccess().send(handle, request)) << what;
    EXPECT_EQ(request.errorCode, EIO) << what;
    EXPECT_EQ(request.sense[2], 0x05) << what << ": ILLEGAL REQUEST";
  }
  // The unspoiled requests pass, so the refusals above are the spoils' doing.
  platform::PassThroughRequest good = areaTransferRequest(Command::ReadCard, 0, 512);
  std::vector<std::uint8_t> buffer(512);
  good.data = buffer.data();
  EXPECT_TRUE(farm->readerAccess().send(handle, good));
  farm->readerAccess().close(handle);
}

} // namespace
} // namespace tarvix::sim_test
