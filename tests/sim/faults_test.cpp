// Faults armed per reader in the farm file, timed events, and the time scale on every wait.
#include "channel/command_blocks.h"
#include "sim/sim_fixture.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace tarvix::sim_test {
namespace {

using namespace channel;

std::string withFaults(const std::string& faults, const std::string& model = "VQ301C") {
  return oneReader(model, R"("cardSectors": 2048, "faults": [ )" + faults + " ]");
}

// A fault strikes after its successes, as often as its times say (every call without them).
TEST_F(FarmTest, FailStrikesAfterItsSuccessesAsOftenAsItsTimesSay) {
  load(withFaults(R"({ "command": "WriteSector", "after": 2, "fault": "fail" },
                     { "command": "GetCapacity", "fault": "fail", "times": 1 })"));
  auto holder = openReader("r1");
  const auto data = pattern(512, 1);
  EXPECT_TRUE(WriteSector(*holder, data, 0));
  EXPECT_TRUE(WriteSector(*holder, data, 1));
  EXPECT_FALSE(WriteSector(*holder, data, 2));
  EXPECT_FALSE(WriteSector(*holder, data, 3));
  EXPECT_EQ(readFile(farm->cardImagePath("r1"), 2 * 512, 1)[0], 0)
      << "a failed write writes nothing";
  std::vector<std::uint8_t> sector(512);
  EXPECT_TRUE(ReadSector(*holder, sector, 0)) << "other commands are not affected";
  std::uint32_t count = 0;
  std::uint32_t size = 0;
  EXPECT_FALSE(GetCapacity(*holder, count, size, 0));
  EXPECT_TRUE(GetCapacity(*holder, count, size, 0));
}

TEST_F(FarmTest, FromSectorKeepsAFaultToTheLaterSectors) {
  load(withFaults(R"({ "command": "WriteSector", "fault": "fail", "fromSector": 100 })"));
  auto holder = openReader("r1");
  const auto data = pattern(1024, 1);
  EXPECT_TRUE(WriteSector(*holder, data, 98));
  EXPECT_FALSE(WriteSector(*holder, data, 99)) << "its second sector is the first failing one";
  EXPECT_TRUE(WriteSector(*holder, data, 0));
}

TEST_F(FarmTest, CorruptChangesOneByteOfWhatIsReadButNotTheCard) {
  load(withFaults(R"({ "command": "ReadSector", "after": 1, "fault": "corrupt" })"));
  auto holder = openReader("r1");
  const auto data = pattern(4096, 7);
  ASSERT_TRUE(WriteSector(*holder, data, 0));
  std::vector<std::uint8_t> back(4096);
  ASSERT_TRUE(ReadSector(*holder, back, 0));
  EXPECT_EQ(back, data);
  ASSERT_TRUE(ReadSector(*holder, back, 0));
  std::size_t differing = 0;
  for (std::size_t i = 0; i < data.size(); ++i)
    differing += back[i] != data[i];
  EXPECT_EQ(differing, 1u);
  EXPECT_EQ(readFile(farm->cardImagePath("r1"), 0, 4096), data);
}

TEST_F(FarmTest, PullFaultRemovesTheReaderJustBeforeTheCommand) {
  load(withFaults(R"({ "command": "WriteCard", "after": 1, "fault": "pull" })"));
  std::atomic<int> removals = 0;
  farm->drives().setEventListener([&](platform::DeviceEvent event) {
    if (event == platform::DeviceEvent::Removal) ++removals;
  });
  auto holder = openReader("r1");
  const auto data = pattern(512, 2);
  EXPECT_TRUE(WriteCard(*holder, data, 0));
  EXPECT_FALSE(WriteCard(*holder, data, 1));
  EXPECT_EQ(removals.load(), 1);
  EXPECT_FALSE(farm->isPlugged("r1"));
  EXPECT_EQ(farm->drives().logicalDriveMask(), 1u << 2);
  EXPECT_EQ(readFile(farm->cardImagePath("r1"), 512, 1)[0], 0);
  ASSERT_TRUE(farm->plug("r1"));
  auto again = openReader("r1");
  EXPECT_TRUE(WriteCard(*again, data, 1)) << "a pull strikes once";
  farm->drives().setEventListener({});
}

TEST_F(FarmTest, HangWaitsOutTheTimeOutOnTheFarmClockThenFails) {
  load(withFaults(R"({ "command": "WriteEEPROM", "fault": "hang" })", "VQ348"));
  auto holder = openReader("r1");
  const std::uint64_t before = farm->clock().tickMs();
  platform::PassThroughRequest request = writeEepromRequest(4);
  std::array<std::uint8_t, 4> data{1, 2, 3, 4};
  request.data = data.data();
  EXPECT_FALSE(farm->readerAccess().send(holder->handle(), request));
  EXPECT_EQ(request.errorCode, ETIMEDOUT);
  EXPECT_GE(farm->clock().tickMs() - before, 4000u) << "WriteEEPROM's four seconds";
  EXPECT_EQ(farm->eepromBytes("r1")[0], 0);
}

TEST_F(FarmTest, VolumeWriteFaultsStrikeTheFormattersWrites) {
  load(withFaults(R"({ "command": "volumeWrite", "after": 1, "fault": "fail", "times": 1 },
                     { "command": "volumeWrite", "after": 2, "fault": "pull" })"));
  auto volume = farm->volumes().open("D:");
  ASSERT_TRUE(volume);
  const auto data = pattern(512, 3);
  EXPECT_TRUE(volume->writeAt(0, data));
  EXPECT_FALSE(volume->writeAt(512, data));
  EXPECT_EQ(volume->lastError(), EIO);
  EXPECT_EQ(readFile(farm->cardImagePath("r1"), 512, 1)[0], 0) << "a failed write writes nothing";
  EXPECT_TRUE(volume->writeAt(512, data));
  EXPECT_FALSE(volume->writeAt(1024, data));
  EXPECT_EQ(volume->lastError(), ENODEV);
  EXPECT_FALSE(farm->isPlugged("r1"));
}

// UNIT ATTENTION, power on or reset: CHECK CONDITION with sense key 6 and ASC 29h.
TEST_F(FarmTest, UnitAttentionAnswersCheckConditionWithItsSense) {
  load(withFaults(R"({ "command": "SetBinAreaSize", "fault": "unitAttention", "times": 1 },
                     { "command": "GetCapacity", "after": 1, "fault": "unitAttention" })"));
  auto holder = openReader("r1");
  platform::PassThroughRequest request = setBinAreaSizeRequest(0);
  EXPECT_FALSE(farm->readerAccess().send(holder->handle(), request));
  EXPECT_EQ(request.errorCode, EIO);
  EXPECT_EQ(request.senseKey, 0x06);
  EXPECT_EQ(request.sense[2], 0x06);
  EXPECT_EQ(request.sense[12], 0x29);
  EXPECT_TRUE(SetBinAreaSize(*holder, 0)) << "struck once";
  std::uint32_t count = 0;
  std::uint32_t size = 0;
  EXPECT_TRUE(GetCapacity(*holder, count, size, 0));
  EXPECT_FALSE(GetCapacity(*holder, count, size, 0)) << "a unit that keeps answering it fails";
}

TEST_F(FarmTest, OpenFailFirstMakesASlowReaderThatTheRetriesReach) {
  load(withFaults(R"({ "command": "open", "failFirst": 3 })"));
  platform::CapturingTrace localTrace;
  ReaderHandleHolder holder(farm->readerAccess(), localTrace);
  const std::uint64_t before = farm->clock().tickMs();
  ASSERT_TRUE(GetUSBDeviceHandle(holder, "D:", farm->clock()));
  EXPECT_GE(farm->clock().tickMs() - before, 1500u) << "three pauses of 500 ms, scaled";
}

TEST_F(FarmTest, OpenFailMakesAReaderThatNeverComesReady) {
  load(withFaults(R"({ "command": "open", "after": 1, "fault": "fail" })"));
  EXPECT_NE(farm->readerAccess().open("D:"), platform::kNoReader);
  EXPECT_EQ(farm->readerAccess().open("D:"), platform::kNoReader);
  EXPECT_EQ(farm->readerAccess().open("D:"), platform::kNoReader);
}

TEST_F(FarmTest, TimedEventsRunOnTheFarmClock) {
  load(R"({ "timeScale": 0.01, "hostControllers": [ { "rootHubPorts": 2, "attached": [
      { "port": 1, "reader": { "id": "r1", "model": "VQ301A", "cardSectors": 64 } } ] } ],
      "events": [ { "atMs": 2000, "plug": "r1" }, { "atMs": 1000, "pull": "r1" } ] })");
  std::mutex mutex;
  std::vector<std::pair<platform::DeviceEvent, std::uint64_t>> seen;
  farm->drives().setEventListener([&](platform::DeviceEvent event) {
    std::lock_guard lock(mutex);
    seen.emplace_back(event, farm->clock().tickMs());
  });
  const std::uint64_t start = farm->clock().tickMs();
  farm->start();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (seen.size() == 2 || std::chrono::steady_clock::now() > deadline) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  farm->drives().setEventListener({});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, platform::DeviceEvent::Removal);
  EXPECT_EQ(seen[1].first, platform::DeviceEvent::Arrival);
  EXPECT_GE(seen[0].second - start, 1000u);
  EXPECT_GE(seen[1].second - start, 2000u);
  EXPECT_TRUE(farm->isPlugged("r1"));
}

} // namespace
} // namespace tarvix::sim_test
