// Every command's request as the backend receives it, byte for byte, with its trace lines.
#include "channel/vendor_commands.h"
#include "channel_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace tarvix::channel {
namespace {

using platform::DataDirection;
using platform::FrameVariant;

std::vector<std::uint8_t> g_out(65536, 0x5A);
std::vector<std::uint8_t> g_in(65536);
std::array<std::uint8_t, 512> g_vidpid{};
std::uint32_t g_count = 0, g_size = 0;
std::span<const std::uint8_t> out(std::size_t n) { return std::span(g_out).first(n); }
std::span<std::uint8_t> in(std::size_t n) { return std::span(g_in).first(n); }

struct FrameCase {
  std::string label;
  std::function<bool(ReaderHandleHolder&)> run;
  std::string block; // leading bytes in hex; the rest of the 16 are zero
  char frame;        // 'B' buffered, 'D' direct
  char direction;    // 'I' in, 'O' out
  std::uint32_t dataLength;
  std::uint8_t senseLength;
  std::uint32_t timeoutSeconds;
  bool tracesSuccess;
};

// clang-format off
const std::vector<FrameCase> kCases = {
  {"ReInitialCard", [](auto& h) { return ReInitialCard(h); }, "FB 38 51 4B 5A", 'B', 'O', 0, 0, 2, true},
  {"FactoryTotalDefault", [](auto& h) { return FactoryTotalDefault(h); }, "FB 3F 51 4B 5A 00 00 01", 'B', 'O', 0, 0, 2, true},
  {"SetBinAreaSize", [](auto& h) { return SetBinAreaSize(h, 0x00012345); }, "FB 40 51 4B 5A 00 01 23 45", 'B', 'O', 0, 32, 2, true},
  {"SetCDRomSize", [](auto& h) { return SetCDRomSize(h, 0x01020304); }, "FB 30 51 4B 5A 01 02 03 04", 'B', 'O', 0, 32, 2, true},
  {"WriteCard", [](auto& h) { return WriteCard(h, out(1024), 0x00A0B0C0); }, "FB 13 51 4B 5A 00 A0 B0 C0 00 02", 'D', 'O', 1024, 32, 2, true},
  {"ReadCard", [](auto& h) { return ReadCard(h, in(1536), 7); }, "FB 12 51 4B 5A 00 00 00 07 00 03", 'B', 'I', 1536, 0, 2, false},
  {"WriteBin", [](auto& h) { return WriteBin(h, out(65536), 0x10); }, "FB 42 51 4B 5A 00 00 00 10 00 80", 'D', 'O', 65536, 32, 2, true},
  {"ReadBin", [](auto& h) { return ReadBin(h, in(512), 3); }, "FB 41 51 4B 5A 00 00 00 03 00 01", 'B', 'I', 512, 0, 2, false},
  {"WriteAutorun", [](auto& h) { return WriteAutorun(h, out(2048), 0x200); }, "FB 32 51 4B 5A 00 00 02 00 00 04", 'D', 'O', 2048, 32, 2, true},
  {"ReadAutoRun", [](auto& h) { return ReadAutoRun(h, in(4096), 1); }, "FB 31 51 4B 5A 00 00 00 01 00 08", 'B', 'I', 4096, 0, 2, false},
  {"GetCapacity_unit2", [](auto& h) { return GetCapacity(h, g_count, g_size, 2u); }, "FB 11 51 4B 5A 02", 'B', 'I', 8, 32, 2, false},
  // Only the low 8 bits of the unit number travel.
  {"GetCapacity_unit256", [](auto& h) { return GetCapacity(h, g_count, g_size, 256u); }, "FB 11 51 4B 5A 00", 'B', 'I', 8, 32, 2, false},
  {"GetCapacity_card", [](auto& h) { return GetCapacity(h, g_count, g_size); }, "FB 11 51 4B 5A 00 00 01", 'B', 'I', 8, 32, 2, false},
  {"GetVIDPID", [](auto& h) { return GetVIDPID(h, 0x14, g_vidpid); }, "FB 14 51 4B 5A", 'B', 'I', 16, 0, 2, false},
  {"ReadEEPROM", [](auto& h) { return ReadEEPROM(h, in(128)); }, "FB 19 51 4B 5A 00 00 80", 'B', 'I', 128, 0, 2, false},
  {"WriteEEPROM", [](auto& h) { return WriteEEPROM(h, out(200)); }, "FB 18 51 4B 5A 00 00 C8", 'D', 'O', 200, 0, 4, false},
  {"ReadSector", [](auto& h) { return ReadSector(h, in(1024), 0x01020304); }, "28 00 01 02 03 04 00 00 02", 'B', 'I', 1024, 0, 2, false},
  {"WriteSector", [](auto& h) { return WriteSector(h, out(512), 5); }, "2A 00 00 00 00 05 00 00 01", 'D', 'O', 512, 0, 2, false},
};
// clang-format on

std::array<std::uint8_t, 16> blockOf(const std::string& hex) {
  std::array<std::uint8_t, 16> block{};
  std::istringstream words(hex);
  std::string word;
  for (std::size_t i = 0; words >> word; ++i)
    block.at(i) = static_cast<std::uint8_t>(std::stoul(word, nullptr, 16));
  return block;
}

// The trace name is the label up to its variant suffix.
std::string nameOf(const FrameCase& c) { return c.label.substr(0, c.label.find('_')); }

class CommandFrame : public OpenChannel, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(CommandFrame, SendsItsBlockFrameAndLengths) {
  const FrameCase& c = GetParam();
  ASSERT_TRUE(c.run(holder));
  ASSERT_EQ(access.sentRequests.size(), 1u);
  const auto& sent = access.sentRequests[0];
  const auto& r = sent.request;
  EXPECT_EQ(r.commandBlock, blockOf(c.block));
  EXPECT_EQ(r.frame, c.frame == 'D' ? FrameVariant::Direct : FrameVariant::Buffered);
  EXPECT_EQ(r.direction, c.direction == 'I' ? DataDirection::In : DataDirection::Out);
  EXPECT_EQ(r.dataLength, c.dataLength);
  EXPECT_EQ(r.senseLength, c.senseLength);
  EXPECT_EQ(r.timeoutSeconds, c.timeoutSeconds);
  EXPECT_EQ(r.errorCode, 0) << "sent on a handle the backend did not give out";
  if (c.frame == 'D') {
    EXPECT_EQ(r.data, g_out.data()) << "direct requests lend the caller's buffer itself";
    EXPECT_EQ(sent.outData, std::vector<std::uint8_t>(g_out.begin(), g_out.begin() + c.dataLength));
  } else if (c.direction == 'I') {
    // ReadSector reads into the caller's bytes, the other reads into an area of their own.
    EXPECT_EQ(r.data == g_in.data(), nameOf(c) == "ReadSector") << "where the read lands";
    EXPECT_TRUE(sent.inAreaWasZero);
  }
  EXPECT_EQ(trace.lines(), c.tracesSuccess
                               ? std::vector<std::string>{nameOf(c) + " DeviceIoControl bSuccess"}
                               : std::vector<std::string>{});
}

TEST_P(CommandFrame, FailureTracesNameAndErrorCode) {
  const FrameCase& c = GetParam();
  access.replies.push_back({false, 121, {}});
  EXPECT_FALSE(c.run(holder));
  EXPECT_EQ(access.sentRequests.size(), 1u);
  EXPECT_EQ(trace.lines(), std::vector<std::string>{nameOf(c) + " Error Code ='121'"});
}

INSTANTIATE_TEST_SUITE_P(AllCommands, CommandFrame, ::testing::ValuesIn(kCases),
                         [](const auto& testInfo) { return testInfo.param.label; });

} // namespace
} // namespace tarvix::channel
