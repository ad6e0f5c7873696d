// Whole production runs on a simulated farm, as an operator runs them with Auto Start.
#include "e2e/station_on_farm.h"
#include "support/temp_dir.h"

namespace tarvix::testing {
namespace {

// Readers of the model under test on a seven-port hub, in its ports from 1 on.
std::string farmOf(const std::vector<std::string>& extras) {
  std::string attached;
  for (std::size_t i = 0; i < extras.size(); ++i)
    attached +=
        (i > 0 ? "," : "") + farmReader(static_cast<int>(i) + 1, "r" + std::to_string(i + 1),
                                        "VQ301C-A-1LUN", 16, extras[i]);
  return farmText(farmHub(1, attached));
}

const std::string kProduction = "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\n"
                                "bCheckLowFormat=1\r\nnLLFSelect=0\r\nbCheckFormat=1\r\n"
                                "szLabel=LINE1\r\nbCheckRWTest=1\r\nnRWTestCount=1\r\n"
                                "bCheckCardInforEnable=1\r\n[CardInfor]\r\nbIncrease=1\r\n"
                                "szSerialNum=41\r\n";

const nlohmann::ordered_json& port(const nlohmann::ordered_json& report, int n) {
  return report["ports"][n - 1];
}

TEST(ProductionRun, CapacityCheckFailsAForgedCardFirstAndPassesAnHonestOne) {
  StationOnFarm station(farmOf({"", R"(, "realMiB": 9, "forgery": "wrap")"}),
                        kProduction + "[Test Item]\r\nbCheckCapacity=1\r\n");
  station.start();
  ASSERT_TRUE(station.runOnce());
  const auto report = station.report();
  EXPECT_EQ(port(report, 1)["picture"], "pass");
  EXPECT_EQ(port(report, 1)["slots"][0]["capacityCheck"], "genuine");
  EXPECT_EQ(port(report, 2)["picture"], "fail");
  EXPECT_EQ(port(report, 2)["slots"][0]["text"], "Fake card!!\r\nreal 9 MB");
  EXPECT_EQ(port(report, 2)["slots"][0]["capacityCheck"], "forged");
  EXPECT_EQ(port(report, 2)["slots"][0]["realMiB"], 9);
  EXPECT_EQ(port(report, 1)["production"]["capacityCheck"], "genuine");
  EXPECT_EQ(port(report, 2)["production"]["capacityCheck"], "forged: real 9 MiB");
  EXPECT_EQ(port(report, 2)["production"]["failure"], "Fake card!! real 9 MB");
  // Nothing after the check ran on the forged card: its serial number was never taken.
  EXPECT_EQ(report["serialText"], "000000000042");
}

TEST(ProductionRun, PassingReadersTakeSerialsAFailingOneFailsAloneAPulledOneLeavesItsBoxBlank) {
  StationOnFarm station(
      farmOf({"", R"(, "faults": [{"command": "WriteSector", "after": 3, "fault": "fail"}])",
              R"(, "faults": [{"command": "WriteSector", "after": 3, "fault": "pull"}])", ""}),
      kProduction);
  station.start();
  ASSERT_TRUE(station.runOnce());
  const auto report = station.report();
  for (int n : {1, 4}) {
    EXPECT_TRUE(port(report, n)["started"]) << n;
    EXPECT_EQ(port(report, n)["picture"], "pass") << n;
    EXPECT_EQ(port(report, n)["progress"], 200);
    EXPECT_EQ(port(report, n)["slots"][0]["text"], "15 MB\r\n");
    EXPECT_EQ(port(report, n)["slots"][0]["colour"], 2);
  }
  EXPECT_FALSE(port(report, 5)["started"]);
  // The two passing readers took serials 41 and 42 (padded to twelve digits at Auto Start).
  EXPECT_EQ(report["serialText"], "000000000043");
  EXPECT_EQ(station.window->controls().text(station::id::kSerial), "000000000043");
  EXPECT_TRUE(station.window->control(station::id::kAutoStart).enabled); // options unlocked again
  EXPECT_EQ(port(report, 2)["picture"], "fail");
  EXPECT_EQ(port(report, 2)["progress"], 200);
  EXPECT_EQ(port(report, 2)["slots"][0]["colour"], 1);
  EXPECT_EQ(port(report, 3)["picture"], "blank");
  EXPECT_EQ(port(report, 3)["progress"], 0);
  // The production records say the same, and name what the failing step showed.
  EXPECT_EQ(port(report, 1)["production"]["result"], "pass");
  EXPECT_EQ(port(report, 1)["production"]["failure"], "");
  EXPECT_EQ(port(report, 2)["production"]["result"], "fail");
  EXPECT_EQ(port(report, 2)["production"]["failure"], "Test Low level Format Fail!!");
  EXPECT_EQ(port(report, 3)["production"]["result"], "pulled");
}

TEST(ProductionRun, ACardWithoutRoomForTheImageIsRefusedAtStart) {
  // 16 MiB less the 10 MiB every card keeps leaves no room for an 8 MiB hidden area.
  StationOnFarm station(farmOf({""}),
                        kProduction +
                            "[Test Item]\r\nbCheckBinFile=1\r\nszBinFilePath={dir}/big.bin\r\n");
  std::ofstream(station.dir() / "big.bin", std::ios::binary) << std::string(8 << 20, 'x');
  station.start();
  ASSERT_TRUE(station.runOnce());
  const auto report = station.report();
  EXPECT_EQ(port(report, 1)["picture"], "fail");
  EXPECT_EQ(port(report, 1)["slots"][0]["text"], "Card too \r\nsmall!!");
  EXPECT_FALSE(port(report, 1)["started"]);
}

// The two-LUN model learns which LUN is the card from the configuration reply at the port start.
// Without it no LUN would be known as the card, and with no per-LUN step checked the port would
// pass with nothing but its card information written; so the port does not start. (That it passes
// only with its card prepared wherever the reply fails is the pass oracle's fault sweep.)
TEST(ProductionRun, ATwoLunReaderWhoseConfigurationFailsAtItsStartIsNotStarted) {
  // The probe asks each LUN for its identity and configuration, for the mapping's full scan and
  // again as the model is applied: the port start's configuration query is the ninth.
  StationOnFarm station(
      farmText(farmHub(1, farmReader(1, "r1", "VQ301C-A-2LUN", 16,
                                     R"(, "faults": [{"command": "GetVIDPID", "after": 8, )"
                                     R"("fault": "fail", "times": 1}])"))),
      "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=4\r\n"
      "bCheckCardInforEnable=1\r\n");
  station.start();
  ASSERT_TRUE(station.runOnce());
  const auto report = station.report();
  EXPECT_FALSE(port(report, 1)["started"]);
  EXPECT_EQ(port(report, 1)["picture"], "fail");
  EXPECT_EQ(port(report, 1)["slots"][0]["colour"], 1);
  EXPECT_EQ(
      std::ranges::count_if(station.trace.lines(),
                            [](const std::string& l) { return l.starts_with("GetVIDPID E"); }),
      1);
}

// Reader A goes away during one of the worker's pauses (the one after the controller re-lays the
// card, the one after a reset), and reader B, plugged into another port then, takes A's letter:
// A's worker must not go on with B. B is of another model, so no worker of its own touches it,
// and its card has a hidden area from an earlier run, so it would take A's binary image.
TEST(ProductionRun, APulledReadersWorkerNeverReachesTheReaderThatTakesItsLetter) {
  for (const bool reset : {false, true}) {
    const std::string pullFault =
        reset ? "" : R"(, "faults": [{"command": "ReInitialCard", "after": 0, "fault": "pull"}])";
    StationOnFarm station(
        farmText(farmHub(1, farmReader(1, "a", "VQ301C-A-1LUN", 16, pullFault) + "," +
                                farmReader(2, "b", "VQ301C", 16, R"(, "plugged": false)")),
                 2, "0.2"),
        "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\nbCheckFormat=1\r\n"
        "szLabel=LINE1\r\nbCheckBinFile=1\r\nszBinFilePath={dir}/hidden.bin\r\n");
    std::ofstream(station.dir() / "hidden.bin", std::ios::binary) << std::string(4096, 'h');
    const auto bImage = station.dir() / "img" / "b.img";
    {
      std::fstream card(bImage, std::ios::binary | std::ios::in | std::ios::out);
      card.seekp((32768 - 1) * 512 + 8);
      card.write("\0\0\0\x10", 4); // a hidden area of 16 sectors
    }
    const auto bBefore = tarvix::testing::readFile(bImage);
    station.start();
    if (reset) {
      station.host.runAndWait([&] { station.window->onClicked(station::id::kResetToDefault); });
    }
    station.host.runAndWait([&] { station.window->onClicked(station::id::kAutoStart); });
    if (reset) {
      // The reset is done and its pause begins.
      ASSERT_TRUE(station.waitFor(
          [&] { return station.window->control(station::progressBarId(1)).position == 180; }));
      ASSERT_TRUE(station.farm->pull("a"));
    } else {
      ASSERT_TRUE(station.waitFor([&] { return !station.farm->isPlugged("a"); }));
    }
    ASSERT_TRUE(station.farm->plug("b"));
    ASSERT_TRUE(
        station.waitFor([&] { return station.window->runEnded(); }, std::chrono::seconds(60)));
    const auto report = station.report();
    EXPECT_EQ(port(report, 1)["picture"], "blank") << reset;
    // Neither B's card nor B's box heard of A's run.
    EXPECT_TRUE(tarvix::testing::readFile(bImage) == bBefore) << reset;
    EXPECT_FALSE(port(report, 2)["started"]) << reset;
    if (!reset) {
      EXPECT_EQ(port(report, 2)["slots"][0]["text"], "Not VQ301C\r\n-A-1LUN!!");
    }
  }
}

// The serial edit shows the number a card just took; the station's file must keep the next one,
// or the next start would hand that number out again.
TEST(ProductionRun, ClosingTheWindowMidRunKeepsTheNextSerialNumber) {
  StationOnFarm station(farmOf({R"(, "writeMBps": 4)"}),
                        kProduction + "[Test Item]\r\nnRWTestCount=2\r\n");
  station.start();
  station.host.runAndWait([&] { station.window->onClicked(station::id::kAutoStart); });
  const auto settings = station.dir() / "TarvixValue.ini";
  ASSERT_TRUE(station.waitFor(
      [&] { return readFile(settings).find("szSerialNum=000000000042") != std::string::npos; }));
  station.host.runAndWait([&] { station.window->close(); });
  EXPECT_NE(readFile(settings).find("szSerialNum=000000000042\r\n"), std::string::npos);
}

TEST(ProductionRun, ResetToDefaultEndsInTheDefaultPassPicture) {
  StationOnFarm station(farmOf({""}), kProduction);
  station.start();
  station.host.runAndWait([&] { station.window->onClicked(station::id::kResetToDefault); });
  ASSERT_TRUE(station.runOnce());
  EXPECT_EQ(port(station.report(), 1)["picture"], "default-pass");
}

} // namespace
} // namespace tarvix::testing
