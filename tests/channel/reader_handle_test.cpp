// Opening, closing and the holder's life cycle.
#include "channel/trace_lines.h"
#include "channel/vendor_commands.h"
#include "channel_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace tarvix::channel {
namespace {

using Lines = std::vector<std::string>;
using Holder = ChannelFixture;

TEST_F(Holder, OpenRetriesUntilTheReaderAnswers) {
  access.openFailures = 2;
  EXPECT_TRUE(open());
  EXPECT_EQ(access.openCalls, 3);
  EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{500, 500}));
  EXPECT_EQ(trace.lines(),
            (Lines{"osver.dwPlatformId == VER_PLATFORM_WIN32_NT", "GetUSBDeviceHandle Success 2"}));
}

TEST_F(Holder, MissingReaderCostsTwentyAttemptsAndFailsEveryRequest) {
  access.openFailures = -1;
  EXPECT_FALSE(open());
  EXPECT_EQ(access.openCalls, 20);
  EXPECT_EQ(clock.sleeps, std::vector<std::uint32_t>(20, 500));
  EXPECT_FALSE(holder.isNull());
  trace.clear();

  std::uint32_t count = 0, size = 0;
  std::vector<std::uint8_t> buffer(512);
  EXPECT_FALSE(GetCapacity(holder, count, size, 0u));
  EXPECT_FALSE(ReadCard(holder, buffer, 0));
  EXPECT_FALSE(ReInitialCard(holder));
  EXPECT_TRUE(access.sentRequests.empty()) << "nothing reaches the backend without a handle";
  EXPECT_EQ(trace.lines(), (Lines{"GetCapacity Error Code ='9'", "ReadCard Error Code ='9'",
                                  "ReInitialCard Error Code ='9'"}));

  // The failed holder is still closed with its trace line, but there is no handle to release.
  holder.close();
  EXPECT_TRUE(holder.isNull());
  EXPECT_EQ(trace.lines().back(), "m_hUSBDeviceHandle close handle");
  EXPECT_TRUE(access.closedHandles.empty());
}

TEST_F(Holder, ClosingANullHolderDoesNothing) {
  holder.close();
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_TRUE(access.closedHandles.empty());
}

TEST_F(Holder, CloseReleasesTheHandleOnceWithItsTrace) {
  ASSERT_TRUE(open());
  trace.clear();
  holder.close();
  holder.close();
  EXPECT_EQ(access.closedHandles, std::vector<platform::ReaderHandle>{42});
  EXPECT_EQ(trace.lines(), Lines{"m_hUSBDeviceHandle close handle"});
}

TEST(ReaderHandleLifetime, LeavingTheScopeClosesAnOpenHolder) {
  testing::RecordingAccess access;
  testing::RecordingClock clock;
  platform::CapturingTrace trace;
  {
    ReaderHandleHolder m_hUSBDeviceHandle(access, trace);
    ASSERT_TRUE(GetUSBDeviceHandle(m_hUSBDeviceHandle, "E:", clock));
  }
  EXPECT_EQ(access.closedHandles, std::vector<platform::ReaderHandle>{42});
  EXPECT_EQ(trace.lines().back(), "m_hUSBDeviceHandle close handle");
}

// Reopening must not leak the handle the holder already had.
TEST_F(Holder, ReopeningClosesThePreviousHandleFirst) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(open());
  EXPECT_EQ(access.closedHandles, std::vector<platform::ReaderHandle>{42});
  EXPECT_EQ(trace.lines()[2], "m_hUSBDeviceHandle close handle");
}

// Twenty-one workers, one holder each, on one backend: every worker gets its own data back.
TEST(ReaderHandleConcurrency, HoldersOnManyThreadsDoNotShareFrames) {
  class EchoAccess final : public platform::ReaderAccess {
  public:
    platform::ReaderHandle open(std::string_view name) override { return name[0]; }
    bool send(platform::ReaderHandle h, platform::PassThroughRequest& r) override {
      std::fill_n(r.data, r.dataLength, static_cast<std::uint8_t>(h));
      return true;
    }
    void close(platform::ReaderHandle) override {}
  } access;
  platform::CapturingTrace trace;
  std::vector<std::thread> workers;
  std::vector<int> good(21, 0);
  for (int w = 0; w < 21; ++w) {
    workers.emplace_back([&, w] {
      testing::RecordingClock clock;
      ReaderHandleHolder holder(access, trace);
      const std::string name{static_cast<char>('D' + w), ':'};
      GetUSBDeviceHandle(holder, name, clock);
      std::vector<std::uint8_t> data(200000);
      for (int round = 0; round < 20; ++round) {
        if (!ReadCard(holder, data, 0)) return;
        if (!std::all_of(data.begin(), data.end(), [&](auto b) { return b == 'D' + w; })) return;
      }
      good[w] = 1;
    });
  }
  for (auto& worker : workers)
    worker.join();
  EXPECT_EQ(std::count(good.begin(), good.end(), 1), 21);
}

} // namespace
} // namespace tarvix::channel
