// Readers found, mapped and probed on a simulated farm, as an operator would see them.
#include "e2e/station_on_farm.h"

namespace tarvix::testing {
namespace {

const char* kHubMapSettings = "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\n";

std::string twoHubFarm() {
  std::string hub1;
  for (int port = 1; port <= 7; ++port)
    hub1 +=
        (port > 1 ? "," : "") + farmReader(port, "a" + std::to_string(port), "VQ301C-A-1LUN", 8);
  return farmText(
      farmHub(1, hub1) + "," +
          farmHub(2,
                  farmReader(3, "b3", "VQ301C-A-1LUN", 16) + "," + farmReader(5, "b5", "VQ305A", 8),
                  true),
      4, "0.001");
}

const nlohmann::ordered_json& slotOf(const nlohmann::ordered_json& report, int slot) {
  return report["ports"][(slot - 1) / 4]["slots"][(slot - 1) % 4];
}

// Hub 2's reader in port 3 (box 10) is plugged in and pulled again while the station runs.
TEST(StationOnFarm, HubMapShowsEveryReaderInItsPortBoxAsItComesAndGoes) {
  StationOnFarm station(twoHubFarm(), kHubMapSettings);
  station.farm->pull("b3");
  station.start();
  auto report = station.report();
  ASSERT_EQ(report["ports"].size(), 21u);
  const char letters[] = "DEFGHIJ";
  for (int port = 1; port <= 7; ++port) {
    const auto& slot = slotOf(report, (port - 1) * 4 + 1);
    EXPECT_EQ(slot["label"], std::string(1, letters[port - 1]) + ":") << port;
    EXPECT_EQ(slot["text"], "7 MB\r\n") << port; // 8 MiB card less its information sector
    EXPECT_EQ(slot["colour"], 0);
    EXPECT_TRUE(station.window->readers().ports[port - 1].ready);
  }
  // Hub 2: another model in port 5 (box 12).
  EXPECT_EQ(slotOf(report, 45)["text"], "Not VQ301C\r\n-A-1LUN!!");
  EXPECT_EQ(slotOf(report, 45)["colour"], 1);
  EXPECT_FALSE(station.window->readers().ports[11].ready);
  EXPECT_EQ(report["ports"][0]["picture"], "blank");
  EXPECT_FALSE(report["ports"][0]["started"]);
  EXPECT_FALSE(slotOf(report, 3)["visible"]);
  EXPECT_EQ(slotOf(report, 37)["text"], "");

  ASSERT_TRUE(station.farm->plug("b3"));
  const char letter = station.farm->letters("b3").at(0);
  ASSERT_TRUE(station.waitFor([&] { return station.window->readers().ports[9].ready.load(); }));
  report = station.report();
  EXPECT_EQ(slotOf(report, 37)["label"], std::string(1, letter) + ":");
  EXPECT_EQ(slotOf(report, 37)["text"], "15 MB\r\n");

  ASSERT_TRUE(station.farm->pull("b3"));
  ASSERT_TRUE(station.waitFor([&] { return !station.window->readers().ports[9].assigned.load(); }));
  report = station.report();
  EXPECT_EQ(slotOf(report, 37)["label"], "");
  EXPECT_EQ(slotOf(report, 37)["text"], "");
  EXPECT_EQ(report["ports"][9]["picture"], "blank");
  EXPECT_EQ(report["ports"][9]["progress"], 0);
}

TEST(StationOnFarm, NoMappingModeLeavesEveryBoxEmpty) {
  StationOnFarm station(twoHubFarm(), "");
  station.start();
  const auto report = station.report();
  for (const auto& port : report["ports"]) {
    for (const auto& slot : port["slots"])
      EXPECT_EQ(slot["text"], "");
  }
}

} // namespace
} // namespace tarvix::testing
