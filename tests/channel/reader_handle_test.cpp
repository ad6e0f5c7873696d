// Opening, closing and the holder's life cycle.
#include "channel/trace_lines.h"
#include "channel/vendor_commands.h"
#include "channel_fixture.h"

#include <gtest/gtest.h>

#include <string>
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

  std::vector<std::uint8_t> buffer(512);
  EXPECT_FALSE(ReadCard(holder, buffer, 0));
  EXPECT_FALSE(ReInitialCard(holder));
  EXPECT_TRUE(access.sentRequests.empty()) << "nothing reaches the backend without a handle";
  EXPECT_EQ(trace.lines(), (Lines{"ReadCard Error Code ='9'", "ReInitialCard Error Code ='9'"}));

  // The failed holder is still closed with its trace line, but there is no handle to release.
  holder.close();
  EXPECT_TRUE(holder.isNull());
  EXPECT_EQ(trace.lines().back(), "m_hUSBDeviceHandle close handle");
  EXPECT_TRUE(access.closedHandles.empty());
}

// A null holder closes silently; an open one releases its handle exactly once, whether on close,
// on reopening (before the new open) or on leaving its scope.
TEST_F(Holder, EachHandleIsReleasedExactlyOnce) {
  holder.close();
  EXPECT_TRUE(trace.lines().empty());
  ASSERT_TRUE(open());
  ASSERT_TRUE(open());
  EXPECT_EQ(trace.lines()[2], "m_hUSBDeviceHandle close handle");
  trace.clear();
  holder.close();
  holder.close();
  EXPECT_EQ(access.closedHandles, (std::vector<platform::ReaderHandle>{42, 42}));
  EXPECT_EQ(trace.lines(), Lines{"m_hUSBDeviceHandle close handle"});
  {
    ReaderHandleHolder scoped(access, trace);
    ASSERT_TRUE(GetUSBDeviceHandle(scoped, "F:", clock));
  }
  EXPECT_EQ(access.closedHandles.size(), 3u);
  EXPECT_EQ(trace.lines().back(), "m_hUSBDeviceHandle close handle");
}

} // namespace
} // namespace tarvix::channel
