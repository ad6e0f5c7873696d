// Every command's request as the backend receives it, byte for byte, with its trace lines.
#include "channel/vendor_commands.h"
#include "channel_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace tarvix::channel {
namespace {

using platform::DataDirection;
using platform::FrameVariant;
using Block = std::array<std::uint8_t, 16>;

constexpr auto B = FrameVariant::Buffered;
constexpr auto D = FrameVariant::Direct;
constexpr auto In = DataDirection::In;
constexpr auto Out = DataDirection::Out;

std::vector<std::uint8_t> g_out(65536, 0x5A);
std::vector<std::uint8_t> g_in(65536);
std::array<std::uint8_t, 512> g_vidpid{};
std::uint32_t g_count = 0, g_size = 0;

struct FrameCase {
  std::string label;
  std::function<bool(ReaderHandleHolder&)> run;
  Block block;
  FrameVariant frame;
  DataDirection direction;
  std::uint32_t dataLength;
  std::uint8_t senseLength;
  std::uint32_t timeoutSeconds;
  std::string name;           // head of the failure trace
  bool tracesSuccess = false; // "<name> DeviceIoControl bSuccess"
};

std::span<const std::uint8_t> out(std::size_t n) { return std::span(g_out).first(n); }
std::span<std::uint8_t> in(std::size_t n) { return std::span(g_in).first(n); }

const std::vector<FrameCase>& frameCases() {
  static const std::vector<FrameCase> cases = {
      {"ReInitialCard",
       [](auto& h) { return ReInitialCard(h); },
       {0xFB, 0x38, 0x51, 0x4B, 0x5A},
       B,
       Out,
       0,
       0,
       2,
       "ReInitialCard",
       true},
      {"FactoryTotalDefault",
       [](auto& h) { return FactoryTotalDefault(h); },
       {0xFB, 0x3F, 0x51, 0x4B, 0x5A, 0, 0, 0x01},
       B,
       Out,
       0,
       0,
       2,
       "FactoryTotalDefault",
       true},
      {"SetBinAreaSize",
       [](auto& h) { return SetBinAreaSize(h, 0x00012345); },
       {0xFB, 0x40, 0x51, 0x4B, 0x5A, 0x00, 0x01, 0x23, 0x45},
       B,
       Out,
       0,
       32,
       2,
       "SetBinAreaSize",
       true},
      {"SetCDRomSize",
       [](auto& h) { return SetCDRomSize(h, 0x01020304); },
       {0xFB, 0x30, 0x51, 0x4B, 0x5A, 0x01, 0x02, 0x03, 0x04},
       B,
       Out,
       0,
       32,
       2,
       "SetCDRomSize",
       true},
      {"WriteCard",
       [](auto& h) { return WriteCard(h, out(1024), 0x00A0B0C0); },
       {0xFB, 0x13, 0x51, 0x4B, 0x5A, 0x00, 0xA0, 0xB0, 0xC0, 0x00, 0x02},
       D,
       Out,
       1024,
       32,
       2,
       "WriteCard",
       true},
      {"ReadCard",
       [](auto& h) { return ReadCard(h, in(1536), 7); },
       {0xFB, 0x12, 0x51, 0x4B, 0x5A, 0, 0, 0, 0x07, 0x00, 0x03},
       B,
       In,
       1536,
       0,
       2,
       "ReadCard"},
      {"WriteBin",
       [](auto& h) { return WriteBin(h, out(65536), 0x10); },
       {0xFB, 0x42, 0x51, 0x4B, 0x5A, 0, 0, 0, 0x10, 0x00, 0x80},
       D,
       Out,
       65536,
       32,
       2,
       "WriteBin",
       true},
      {"ReadBin",
       [](auto& h) { return ReadBin(h, in(512), 3); },
       {0xFB, 0x41, 0x51, 0x4B, 0x5A, 0, 0, 0, 0x03, 0x00, 0x01},
       B,
       In,
       512,
       0,
       2,
       "ReadBin"},
      {"WriteAutorun",
       [](auto& h) { return WriteAutorun(h, out(2048), 0x0200); },
       {0xFB, 0x32, 0x51, 0x4B, 0x5A, 0, 0, 0x02, 0x00, 0x00, 0x04},
       D,
       Out,
       2048,
       32,
       2,
       "WriteAutorun",
       true},
      {"ReadAutoRun",
       [](auto& h) { return ReadAutoRun(h, in(4096), 1); },
       {0xFB, 0x31, 0x51, 0x4B, 0x5A, 0, 0, 0, 0x01, 0x00, 0x08},
       B,
       In,
       4096,
       0,
       2,
       "ReadAutoRun"},
      {"GetCapacity unit 2",
       [](auto& h) { return GetCapacity(h, g_count, g_size, 2u); },
       {0xFB, 0x11, 0x51, 0x4B, 0x5A, 0x02},
       B,
       In,
       8,
       32,
       2,
       "GetCapacity"},
      // Only the low 8 bits of the unit number travel.
      {"GetCapacity unit 256",
       [](auto& h) { return GetCapacity(h, g_count, g_size, 256u); },
       {0xFB, 0x11, 0x51, 0x4B, 0x5A, 0x00},
       B,
       In,
       8,
       32,
       2,
       "GetCapacity"},
      {"GetCapacity card",
       [](auto& h) { return GetCapacity(h, g_count, g_size); },
       {0xFB, 0x11, 0x51, 0x4B, 0x5A, 0, 0, 0x01},
       B,
       In,
       8,
       32,
       2,
       "GetCapacity"},
      {"GetVIDPID 14h",
       [](auto& h) { return GetVIDPID(h, 0x14, g_vidpid); },
       {0xFB, 0x14, 0x51, 0x4B, 0x5A},
       B,
       In,
       16,
       0,
       2,
       "GetVIDPID"},
      {"GetVIDPID 16h",
       [](auto& h) { return GetVIDPID(h, 0x16, g_vidpid); },
       {0xFB, 0x16, 0x51, 0x4B, 0x5A},
       B,
       In,
       16,
       0,
       2,
       "GetVIDPID"},
      {"GetVIDPID 3Eh",
       [](auto& h) { return GetVIDPID(h, 0x3E, g_vidpid); },
       {0xFB, 0x3E, 0x51, 0x4B, 0x5A},
       B,
       In,
       16,
       0,
       2,
       "GetVIDPID"},
      {"ReadEEPROM",
       [](auto& h) { return ReadEEPROM(h, in(128)); },
       {0xFB, 0x19, 0x51, 0x4B, 0x5A, 0, 0, 0x80},
       B,
       In,
       128,
       0,
       2,
       "ReadEEPROM"},
      {"WriteEEPROM",
       [](auto& h) { return WriteEEPROM(h, out(200)); },
       {0xFB, 0x18, 0x51, 0x4B, 0x5A, 0, 0, 0xC8},
       D,
       Out,
       200,
       0,
       4,
       "WriteEEPROM"},
      {"ReadSector",
       [](auto& h) { return ReadSector(h, in(1024), 0x01020304); },
       {0x28, 0x00, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x02},
       B,
       In,
       1024,
       0,
       2,
       "ReadSector"},
      {"WriteSector",
       [](auto& h) { return WriteSector(h, out(512), 5); },
       {0x2A, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x01},
       D,
       Out,
       512,
       0,
       2,
       "WriteSector"},
  };
  return cases;
}

class CommandFrame : public ChannelFixture, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(CommandFrame, SendsItsBlockFrameAndLengths) {
  const FrameCase& c = GetParam();
  ASSERT_TRUE(open());
  trace.clear();
  ASSERT_TRUE(c.run(holder));
  ASSERT_EQ(access.sentRequests.size(), 1u);
  const auto& sent = access.sentRequests[0];
  const auto& r = sent.request;
  EXPECT_EQ(r.commandBlock, c.block);
  EXPECT_EQ(r.frame, c.frame);
  EXPECT_EQ(r.direction, c.direction);
  EXPECT_EQ(r.dataLength, c.dataLength);
  EXPECT_EQ(r.senseLength, c.senseLength);
  EXPECT_EQ(r.timeoutSeconds, c.timeoutSeconds);
  EXPECT_EQ(r.errorCode, 0) << "sent on a handle the backend did not give out";
  if (c.dataLength > 0) {
    ASSERT_NE(r.data, nullptr);
  }
  if (c.frame == D) {
    // Direct requests lend the caller's buffer itself.
    EXPECT_EQ(r.data, g_out.data());
    EXPECT_EQ(sent.outData, std::vector<std::uint8_t>(g_out.begin(), g_out.begin() + c.dataLength));
  } else if (c.direction == In) {
    EXPECT_NE(r.data, g_in.data()) << "buffered reads answer into their own area";
    EXPECT_TRUE(sent.inAreaWasZero);
  }
  const std::vector<std::string> expected =
      c.tracesSuccess ? std::vector<std::string>{c.name + " DeviceIoControl bSuccess"}
                      : std::vector<std::string>{};
  EXPECT_EQ(trace.lines(), expected);
}

TEST_P(CommandFrame, FailureTracesNameAndErrorCode) {
  const FrameCase& c = GetParam();
  ASSERT_TRUE(open());
  trace.clear();
  access.replies.push_back({false, 121, {}});
  EXPECT_FALSE(c.run(holder));
  EXPECT_EQ(access.sentRequests.size(), 1u);
  EXPECT_EQ(trace.lines(), std::vector<std::string>{c.name + " Error Code ='121'"});
}

INSTANTIATE_TEST_SUITE_P(AllCommands, CommandFrame, ::testing::ValuesIn(frameCases()),
                         [](const auto& testInfo) {
                           std::string label = testInfo.param.label;
                           for (char& ch : label)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return label;
                         });

} // namespace
} // namespace tarvix::channel
