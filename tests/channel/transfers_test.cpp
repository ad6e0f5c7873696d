// How transfers are cut into requests, what lands in the caller's buffer, and what is refused.
#include "channel/vendor_commands.h"
#include "channel_fixture.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace tarvix::channel {
namespace {

std::uint16_t sectorField(const platform::PassThroughRequest& r) {
  return static_cast<std::uint16_t>(r.commandBlock[9] << 8 | r.commandBlock[10]);
}
std::uint32_t startField(const platform::PassThroughRequest& r) {
  return static_cast<std::uint32_t>(r.commandBlock[5]) << 24 | r.commandBlock[6] << 16 |
         r.commandBlock[7] << 8 | r.commandBlock[8];
}
std::vector<std::uint8_t> pattern(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 65536);
  return bytes;
}

using Transfers = OpenChannel;
using testing::Reply;

// --- UNIT ATTENTION -------------------------------------------------------------------------

// A command answered UNIT ATTENTION goes again, up to three more times, without a failure line;
// any other refusal, and a fourth UNIT ATTENTION in a row, fail it at once.
TEST_F(Transfers, UnitAttentionIsSentAgainAtMostThreeTimes) {
  const Reply attention{false, EIO, {}, 0x06};
  const Reply illegal{false, EIO, {}, 0x05};
  const Reply done{true, 0, {0, 0, 0x10, 0, 0, 0, 2, 0}, 0};
  struct Case {
    std::vector<Reply> replies;
    bool ok;
    std::size_t sends;
  };
  for (const Case& c :
       {Case{{attention, done}, true, 2}, Case{{attention, attention, attention, done}, true, 4},
        Case{{attention, attention, attention, attention, done}, false, 4},
        Case{{illegal, done}, false, 1}, Case{{attention, illegal}, false, 2}}) {
    access.replies.assign(c.replies.begin(), c.replies.end());
    access.sentRequests.clear();
    trace.clear();
    std::uint32_t count = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(GetCapacity(holder, count, size, 0), c.ok) << c.sends;
    EXPECT_EQ(access.sentRequests.size(), c.sends);
    EXPECT_EQ(count, c.ok ? 0x1000u : 0u);
    EXPECT_EQ(trace.lines(), c.ok ? std::vector<std::string>{}
                                  : std::vector<std::string>{"GetCapacity Error Code ='5'"});
  }
}

// --- Split card transfers -------------------------------------------------------------------

// 65,536 bytes go in one request of 128 sectors; one byte more adds a 1-byte request of 0 sectors.
TEST_F(Transfers, WriteCardSplitsAfterEach64KiB) {
  const auto data = pattern(65537);
  ASSERT_TRUE(WriteCard(holder, std::span(data).first(65536), 1000));
  ASSERT_EQ(access.sentRequests.size(), 1u);
  EXPECT_EQ(sectorField(access.sentRequests[0].request), 128);
  EXPECT_EQ(startField(access.sentRequests[0].request), 1000u);
  access.sentRequests.clear();
  trace.clear();

  ASSERT_TRUE(WriteCard(holder, data, 1000));
  ASSERT_EQ(access.sentRequests.size(), 2u);
  const auto& first = access.sentRequests[0];
  const auto& second = access.sentRequests[1];
  EXPECT_EQ(first.request.dataLength, 65536u);
  EXPECT_EQ(sectorField(first.request), 128);
  EXPECT_EQ(startField(first.request), 1000u);
  EXPECT_EQ(second.request.dataLength, 1u);
  EXPECT_EQ(sectorField(second.request), 0);
  EXPECT_EQ(startField(second.request), 1128u);
  // Each chunk is the caller's bytes in place, not a copy.
  EXPECT_EQ(first.request.data, data.data());
  EXPECT_EQ(second.request.data, data.data() + 65536);
  EXPECT_EQ(second.outData, std::vector<std::uint8_t>{data[65536]});
  EXPECT_EQ(trace.lines(), std::vector<std::string>(2, "WriteCard DeviceIoControl bSuccess"));
}

TEST_F(Transfers, ReadCardPlacesEachChunkAndZeroesWhatTheDeviceDidNotReturn) {
  const auto chunk0 = pattern(65536);
  access.replies.push_back({true, 0, chunk0});
  access.replies.push_back({true, 0, {0xAB}}); // one byte of the 512 asked for
  std::vector<std::uint8_t> destination(65536 + 512, 0xEE);
  ASSERT_TRUE(ReadCard(holder, destination, 50));
  ASSERT_EQ(access.sentRequests.size(), 2u);
  EXPECT_EQ(startField(access.sentRequests[1].request), 50u + 128u);
  EXPECT_EQ(sectorField(access.sentRequests[1].request), 1);
  EXPECT_TRUE(std::equal(chunk0.begin(), chunk0.end(), destination.begin()));
  EXPECT_EQ(destination[65536], 0xAB);
  EXPECT_TRUE(allAre(std::span(destination).subspan(65537), 0));
  EXPECT_TRUE(trace.lines().empty());
}

TEST_F(Transfers, FailedWriteCardChunkStopsTheCommandAfterEarlierChunksWent) {
  const auto data = pattern(3 * 65536);
  access.replies.push_back({true, 0, {}});
  access.replies.push_back({false, 31, {}});
  EXPECT_FALSE(WriteCard(holder, data, 0));
  EXPECT_EQ(access.sentRequests.size(), 2u);
  EXPECT_EQ(trace.lines(), (std::vector<std::string>{"WriteCard DeviceIoControl bSuccess",
                                                     "WriteCard Error Code ='31'"}));
}

TEST_F(Transfers, FailedReadCardChunkKeepsEarlierChunksAndLeavesTheRestAlone) {
  access.replies.push_back({true, 0, std::vector<std::uint8_t>(65536, 0x11)});
  access.replies.push_back({false, 5, std::vector<std::uint8_t>(65536, 0x22)});
  std::vector<std::uint8_t> destination(2 * 65536, 0xEE);
  EXPECT_FALSE(ReadCard(holder, destination, 0));
  EXPECT_EQ(destination[0], 0x11);
  EXPECT_EQ(destination[65535], 0x11);
  EXPECT_EQ(destination[65536], 0xEE);
  EXPECT_EQ(destination.back(), 0xEE);
  EXPECT_EQ(trace.lines(), std::vector<std::string>{"ReadCard Error Code ='5'"});
}

// --- Single transfers -----------------------------------------------------------------------

TEST_F(Transfers, SectorTransfersOfTwoChunksMoveOnlyTheFirst) {
  access.replies.push_back({true, 0, std::vector<std::uint8_t>(65536, 0x33)});
  std::vector<std::uint8_t> destination(131072, 0xEE);
  ASSERT_TRUE(ReadSector(holder, destination, 9));
  ASSERT_EQ(access.sentRequests.size(), 1u);
  EXPECT_EQ(access.sentRequests[0].request.dataLength, 65536u);
  EXPECT_EQ(access.sentRequests[0].request.commandBlock[7], 0x00);
  EXPECT_EQ(access.sentRequests[0].request.commandBlock[8], 0x80);
  EXPECT_EQ(destination[65535], 0x33);
  EXPECT_EQ(destination[65536], 0xEE);

  const auto source = pattern(131072);
  ASSERT_TRUE(WriteSector(holder, source, 9));
  ASSERT_EQ(access.sentRequests.size(), 2u);
  EXPECT_EQ(access.sentRequests[1].request.dataLength, 65536u);
  EXPECT_EQ(access.sentRequests[1].request.commandBlock[8], 0x80);
}

// What a failed read brought in must not pass for data, nor stale bytes for what a short one
// did not return.
TEST_F(Transfers, ReadSectorLeavesZerosWhereTheDeviceGaveNoData) {
  access.replies.push_back({false, 5, std::vector<std::uint8_t>(512, 0x22)});
  std::vector<std::uint8_t> destination(70000, 0xEE);
  EXPECT_FALSE(ReadSector(holder, destination, 0));
  EXPECT_TRUE(allAre(std::span(destination).first(65536), 0));
  EXPECT_EQ(destination[65536], 0xEE);
  EXPECT_EQ(trace.lines(), std::vector<std::string>{"ReadSector Error Code ='5'"});

  access.replies.push_back({true, 0, {0xAB}});
  std::fill(destination.begin(), destination.end(), std::uint8_t{0xEE});
  EXPECT_TRUE(ReadSector(holder, std::span(destination).first(512), 0));
  EXPECT_EQ(destination[0], 0xAB);
  EXPECT_TRUE(allAre(std::span(destination).subspan(1, 511), 0));
  EXPECT_EQ(destination[512], 0xEE);
}

TEST_F(Transfers, FailedSingleReadsLeaveTheDestinationAsItWas) {
  std::vector<std::uint8_t> destination(512, 0xEE);
  access.replies.push_back({false, 5, std::vector<std::uint8_t>(512, 1)});
  access.replies.push_back({false, 5, std::vector<std::uint8_t>(512, 1)});
  access.replies.push_back({false, 5, std::vector<std::uint8_t>(128, 1)});
  EXPECT_FALSE(ReadBin(holder, destination, 0));
  EXPECT_FALSE(ReadAutoRun(holder, destination, 0));
  EXPECT_FALSE(ReadEEPROM(holder, std::span(destination).first(128)));
  EXPECT_TRUE(allAre(destination, 0xEE));
}

// Length 0 moves nothing. Lengths one request cannot carry would overrun the frame's data area
// (reads) or exceed the transfer unit (writes). Both are refused rather than sent.
TEST_F(Transfers, EmptyAndOverlongRequestsAreRefusedWithoutSending) {
  std::vector<std::uint8_t> none;
  EXPECT_FALSE(WriteCard(holder, none, 0));
  EXPECT_FALSE(ReadCard(holder, none, 0));
  EXPECT_FALSE(ReadSector(holder, none, 0));
  EXPECT_FALSE(WriteSector(holder, none, 0));
  EXPECT_TRUE(access.sentRequests.empty());
  trace.clear();

  std::vector<std::uint8_t> big(65537);
  EXPECT_FALSE(ReadBin(holder, big, 0));
  EXPECT_FALSE(WriteBin(holder, big, 0));
  EXPECT_FALSE(ReadAutoRun(holder, big, 0));
  EXPECT_FALSE(WriteAutorun(holder, big, 0));
  EXPECT_FALSE(ReadEEPROM(holder, std::span(big).first(256)));
  EXPECT_FALSE(WriteEEPROM(holder, std::span(big).first(256)));
  EXPECT_TRUE(access.sentRequests.empty());
  EXPECT_EQ(trace.lines(), (std::vector<std::string>{
                               "ReadBin Error Code ='22'", "WriteBin Error Code ='22'",
                               "ReadAutoRun Error Code ='22'", "WriteAutorun Error Code ='22'",
                               "ReadEEPROM Error Code ='22'", "WriteEEPROM Error Code ='22'"}));
}

} // namespace
} // namespace tarvix::channel
