// The USB tree, drive letters and device numbers, and what plugging and pulling do to them.
#include "platform/sim/default_farm.h"
#include "sim/sim_fixture.h"

#include <utility>

namespace tarvix::sim_test {
namespace {

using platform::DeviceEvent;
using platform::DriveType;
using platform::UsbPort;

std::string reader(int port, const std::string& id, const std::string& model = "VQ301C") {
  return R"({ "port": )" + std::to_string(port) + R"(, "reader": { "id": ")" + id +
         R"(", "model": ")" + model + R"(", "cardSectors": 2048 } })";
}

// A chained seven-port hub in root port 2 with readers on its ports 2 and 5, a VQ301C-A-2LUN in
// root port 5.
std::string chainedFarm() {
  return farmJson(R"({ "port": 2, "hub": { "ports": 7, "chips": 2, "attached": [ )" +
                  reader(5, "h5") + ", " + reader(2, "h2") + " ] } }, " +
                  reader(5, "root5", "VQ301C-A-2LUN"));
}

TEST_F(FarmTest, LettersFromDInWalkOrderAndDeviceNumbersInPlugOrder) {
  load(chainedFarm());
  // The walk meets hub port 2 before hub port 5, and the hub (root port 2) before root port 5.
  EXPECT_EQ(farm->letters("h2"), std::vector<char>{'D'});
  EXPECT_EQ(farm->letters("h5"), std::vector<char>{'E'});
  EXPECT_EQ(farm->letters("root5"), (std::vector<char>{'F', 'G'}));
  EXPECT_EQ(farm->deviceNumbers("root5"), (std::vector<std::uint32_t>{3, 4}));
  EXPECT_EQ(farm->drives().logicalDriveMask(), 0b1111100u) << "C and D-G";
  EXPECT_FALSE(farm->drives().inspect('C')) << "the system disk is no USB device";
  EXPECT_FALSE(farm->drives().inspect('H'));
  const auto cdRom = farm->drives().inspect('g');
  ASSERT_TRUE(cdRom);
  EXPECT_EQ(cdRom->type, DriveType::CdRom);
  EXPECT_EQ(cdRom->deviceKey, farm->drives().inspect('F')->deviceKey);
  EXPECT_NE(cdRom->deviceKey, farm->drives().inspect('D')->deviceKey);
}

// How a chained hub's two chips show in the tree: the end-to-end discovery maps its seven ports.

TEST_F(FarmTest, PullFreesLettersAndPlugReusesTheLowest) {
  load(chainedFarm());
  std::vector<DeviceEvent> events; // told on the plugging or pulling thread
  farm->drives().setEventListener([&](DeviceEvent event) { events.push_back(event); });
  ASSERT_TRUE(farm->pull("h2"));
  EXPECT_FALSE(farm->pull("h2")) << "already out";
  EXPECT_EQ(std::exchange(events, {}), std::vector<DeviceEvent>{DeviceEvent::Removal});
  EXPECT_FALSE(farm->drives().inspect('D'));
  EXPECT_EQ(farm->drives().logicalDriveMask() & 0b1000u, 0u);
  EXPECT_EQ(farm->usbTree().snapshot().controllers[0].rootPorts[1].ports[1].attached,
            UsbPort::Attached::Nothing);
  EXPECT_EQ(farm->readerAccess().open("D:"), platform::kNoReader);

  ASSERT_TRUE(farm->pull("root5"));
  ASSERT_TRUE(farm->plug("root5")); // two units: D, then the next free letter, F
  EXPECT_EQ(farm->letters("root5"), (std::vector<char>{'D', 'F'}));
  EXPECT_EQ(farm->deviceNumbers("root5"), (std::vector<std::uint32_t>{5, 6}));
  ASSERT_TRUE(farm->plug("h2"));
  EXPECT_EQ(farm->letters("h2"), std::vector<char>{'G'});
  EXPECT_EQ(events, (std::vector<DeviceEvent>{DeviceEvent::Removal, DeviceEvent::Arrival,
                                              DeviceEvent::Arrival}));
  EXPECT_FALSE(farm->plug("nobody"));
  farm->drives().setEventListener({});
}

TEST_F(FarmTest, AHandleDiesWithItsReaderAndStaysDeadAfterReplug) {
  load(chainedFarm());
  auto holder = openReader("h2");
  std::uint32_t count = 0;
  std::uint32_t size = 0;
  ASSERT_TRUE(channel::GetCapacity(*holder, count, size));
  ASSERT_TRUE(farm->pull("h2"));
  EXPECT_FALSE(channel::GetCapacity(*holder, count, size));
  ASSERT_TRUE(farm->plug("h2"));
  EXPECT_FALSE(channel::GetCapacity(*holder, count, size)) << "a new plug-in needs a new open";
  auto fresh = openReader("h2");
  EXPECT_TRUE(channel::GetCapacity(*fresh, count, size));
}

TEST_F(FarmTest, DeviceNumbersCanBeGivenAndReadersCanStartUnplugged) {
  load(farmJson(R"({ "port": 1, "reader": { "id": "a", "model": "VQ307B2B-2LUN",
      "cards": [ { "cardSectors": 2048 } ], "deviceNumbers": [5, 4] } },
      { "port": 2, "reader": { "id": "b", "model": "VQ301A", "plugged": false } })"));
  EXPECT_EQ(farm->drives().inspect('D')->deviceNumber, 5u);
  EXPECT_EQ(farm->drives().inspect('E')->deviceNumber, 4u);
  EXPECT_FALSE(farm->isPlugged("b"));
  EXPECT_TRUE(farm->letters("b").empty());
  ASSERT_TRUE(farm->plug("b"));
  EXPECT_EQ(farm->letters("b"), std::vector<char>{'F'});
  EXPECT_EQ(farm->drives().inspect('F')->deviceNumber, 3u);
}

TEST_F(FarmTest, LettersRunOutAtZ) {
  std::string attached = R"({ "port": 1, "hub": { "ports": 15, "attached": [ )";
  for (int port = 1; port <= 12; ++port)
    attached += (port > 1 ? ", " : "") + reader(port, "m" + std::to_string(port), "VQ301C-A-2LUN");
  attached += " ] } }";
  load(farmJson(attached + ", " + reader(2, "late")));
  EXPECT_EQ(farm->letters("m12"), (std::vector<char>{'Z', 0}));
  EXPECT_EQ(farm->letters("late"), std::vector<char>{0});
  const auto topology = farm->usbTree().snapshot();
  EXPECT_EQ(topology.controllers[0].rootPorts[1].firstVolumeLetter, 0);
}

TEST_F(FarmTest, SeveralHostControllersAreNumberedInOrder) {
  load(R"({ "hostControllers": [
      { "rootHubPorts": 4 },
      { "rootHubPorts": 2, "attached": [ { "port": 2, "reader": { "id": "x", "model": "VQ301A" } } ] } ] })");
  const auto topology = farm->usbTree().snapshot();
  ASSERT_EQ(topology.controllers.size(), 2u);
  EXPECT_EQ(topology.controllers[1].index, 1);
  EXPECT_EQ(topology.controllers[1].rootPorts[1].firstVolumeLetter, 'D');
}

TEST(DefaultFarm, SevenReadersOnOneHubWhoseCardsOutliveTheRun) {
  TempDir cache;
  std::string error;
  auto farm = Farm::loadDefault(error, cache.path());
  ASSERT_TRUE(farm) << error;
  const auto topology = farm->usbTree().snapshot();
  // Two chained chips: the outer chip's ports 1-3, then the inner chip in its port 4.
  const auto& hub = topology.controllers.at(0).rootPorts.at(0);
  ASSERT_EQ(hub.attached, UsbPort::Attached::Hub);
  ASSERT_EQ(hub.ports.size(), 4u);
  const auto& inner = hub.ports[3];
  ASSERT_EQ(inner.attached, UsbPort::Attached::Hub);
  ASSERT_EQ(inner.ports.size(), 4u);
  for (int i = 0; i < 7; ++i) {
    const auto& port = i < 3 ? hub.ports[i] : inner.ports[i - 3];
    EXPECT_EQ(port.firstVolumeLetter, 'D' + i);
    EXPECT_EQ(std::filesystem::file_size(farm->cardImagePath("r" + std::to_string(i + 1))),
              64u << 20);
  }
  EXPECT_EQ(farm->cardImagePath("r1").parent_path().parent_path(), cache.path());
  {
    platform::CapturingTrace trace;
    channel::ReaderHandleHolder holder(farm->readerAccess(), trace);
    ASSERT_TRUE(channel::GetUSBDeviceHandle(holder, "J:", farm->clock()));
    ASSERT_TRUE(channel::WriteSector(holder, pattern(512, 4), 7));
  }
  farm.reset();
  farm = Farm::loadDefault(error, cache.path());
  ASSERT_TRUE(farm) << error;
  EXPECT_EQ(readFile(farm->cardImagePath("r7"), 7 * 512, 512), pattern(512, 4));
}

TEST(DefaultFarm, CacheFolderFollowsXdg) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows keeps the cache under %LOCALAPPDATA%, not by the XDG rules";
#endif
  const char* saved = std::getenv("XDG_CACHE_HOME");
  const std::string keep = saved ? saved : "";
  testing::setEnvironment("XDG_CACHE_HOME", "/var/cache/someone");
  EXPECT_EQ(platform::sim::userCacheDir(), "/var/cache/someone/tarvix");
  testing::setEnvironment("XDG_CACHE_HOME", "relative/ignored");
  EXPECT_NE(platform::sim::userCacheDir(), "relative/ignored/tarvix");
  testing::setEnvironment("XDG_CACHE_HOME", saved ? keep.c_str() : nullptr);
}

} // namespace
} // namespace tarvix::sim_test
