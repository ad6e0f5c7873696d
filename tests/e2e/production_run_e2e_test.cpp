// Whole production runs on a simulated farm, as an operator runs them with Auto Start.
#include "e2e/station_on_farm.h"
#include "support/temp_dir.h"

#include <cstdio>

namespace tarvix::testing {
namespace {

std::string farmOf(const std::vector<std::string>& readers) {
  std::string attached;
  for (std::size_t i = 0; i < readers.size(); ++i) {
    if (i > 0) attached += ",";
    attached += R"({"port": )" + std::to_string(i + 1) + R"(, "reader": )" + readers[i] + "}";
  }
  return R"({"imageDir": "img", "timeScale": 0.0001, "hostControllers": [{"rootHubPorts": 2,
    "attached": [{"port": 1, "hub": {"ports": 7, "chips": 2, "attached": [)" +
         attached + "]}}]}]}";
}

std::string reader(const std::string& id, int mib, const std::string& extra = "") {
  return R"({"id": ")" + id + R"(", "model": "VQ301C-A-1LUN", "cardMiB": )" + std::to_string(mib) +
         extra + "}";
}

const std::string kProduction = "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\n"
                                "bCheckLowFormat=1\r\nnLLFSelect=0\r\nbCheckFormat=1\r\n"
                                "szLabel=LINE1\r\nbCheckRWTest=1\r\nnRWTestCount=1\r\n"
                                "bCheckCardInforEnable=1\r\n[CardInfor]\r\nbIncrease=1\r\n"
                                "szSerialNum=41\r\n";

const nlohmann::ordered_json& port(const nlohmann::ordered_json& report, int n) {
  return report["ports"][n - 1];
}

TEST(ProductionRun, EveryReaderPassesWithACleanLabelledVolume) {
  StationOnFarm station(farmOf({reader("r1", 16), reader("r2", 16), reader("r3", 16)}),
                        kProduction);
  station.start();
  ASSERT_TRUE(station.runOnce());
  const auto report = station.report();
  for (int n = 1; n <= 3; ++n) {
    EXPECT_TRUE(port(report, n)["started"]) << n;
    EXPECT_EQ(port(report, n)["picture"], "pass") << n;
    EXPECT_EQ(port(report, n)["progress"], 200);
    EXPECT_EQ(port(report, n)["slots"][0]["text"], "15 MB\r\n");
    EXPECT_EQ(port(report, n)["slots"][0]["colour"], 2);
  }
  EXPECT_FALSE(port(report, 4)["started"]);
  // Three readers took serials 41, 42 and 43 (padded to twelve digits at Auto Start).
  EXPECT_EQ(report["serialText"], "000000000044");
  EXPECT_EQ(station.window->text(station::id::kSerial), "000000000044");
  EXPECT_TRUE(station.window->control(station::id::kAutoStart).enabled); // options unlocked again

  TARVIX_SKIP_WITHOUT_MTOOLS();
  const auto extent = station.farm->publicDisk(station.farm->letters("r2").at(0));
  ASSERT_TRUE(extent);
  const std::string target = extent->image.string() + "@@" + std::to_string(extent->firstByte);
  const std::string info = mtools("minfo -i " + target + " ::");
  EXPECT_NE(info.find("LINE1"), std::string::npos) << info;
}

TEST(ProductionRun, CapacityCheckFailsAForgedCardFirstAndPassesAnHonestOne) {
  StationOnFarm station(
      farmOf({reader("honest", 16), reader("forged", 16, R"(, "realMiB": 9, "forgery": "wrap")")}),
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
  // Nothing after the check ran on the forged card: its serial number was never taken.
  EXPECT_EQ(report["serialText"], "000000000042");
}

TEST(ProductionRun, ChosenFilesAndFolderLandOnEveryCard) {
  TARVIX_SKIP_WITHOUT_MTOOLS();
  StationOnFarm station(farmOf({reader("r1", 16), reader("r2", 16)}), "");
  const auto docs = station.dir() / "Docs";
  std::filesystem::create_directories(docs);
  std::ofstream(station.dir() / "readme.txt") << "for every card\n";
  std::ofstream(docs / "manual.txt") << "inside the folder\n";
  std::ofstream(station.dir() / "TarvixValue.ini", std::ios::binary | std::ios::trunc)
      << "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\nbCheckFormat=1\r\n"
         "bCheckCopyFile=1\r\n[Copy File]\r\nbCheckFile01=1\r\nszFilePath01="
      << (station.dir() / "readme.txt").string()
      << "\r\nbCheckFolder01=1\r\nszFolderPath01=" << docs.string() << "\r\n";
  station.start();
  ASSERT_TRUE(station.runOnce());
  for (const char* id : {"r1", "r2"}) {
    const auto extent = station.farm->publicDisk(station.farm->letters(id).at(0));
    ASSERT_TRUE(extent);
    const std::string image = extent->image.string() + "@@" + std::to_string(extent->firstByte);
    EXPECT_EQ(mtools("mtype -i " + image + " ::/readme.txt"), "for every card\n") << id;
    EXPECT_EQ(mtools("mtype -i " + image + " ::/Docs/manual.txt"), "inside the folder\n") << id;
  }
  EXPECT_EQ(port(station.report(), 1)["picture"], "pass");
  // The farm's clock runs ten thousand times faster, but the copy tool still had its real time.
  EXPECT_GE(station.system.shortestTimeoutNs.load(), std::int64_t{30'000'000'000});
}

TEST(ProductionRun, AFailingReaderFailsAloneAndAPulledOneLeavesItsBoxBlank) {
  StationOnFarm station(
      farmOf({reader("good", 16),
              reader("bad", 16,
                     R"(, "faults": [{"command": "WriteSector", "after": 3, "fault": "fail"}])"),
              reader("gone", 16,
                     R"(, "faults": [{"command": "WriteSector", "after": 3, "fault": "pull"}])")}),
      kProduction);
  station.start();
  ASSERT_TRUE(station.runOnce());
  const auto report = station.report();
  EXPECT_EQ(port(report, 1)["picture"], "pass");
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
  StationOnFarm station(farmOf({reader("r1", 16)}), "");
  const auto image = station.dir() / "big.bin";
  { std::ofstream(image, std::ios::binary) << std::string(8 << 20, 'x'); }
  std::ofstream(station.dir() / "TarvixValue.ini", std::ios::binary | std::ios::trunc)
      << kProduction << "[Test Item]\r\nbCheckBinFile=1\r\nszBinFilePath=" << image.string()
      << "\r\n";
  station.start();
  ASSERT_TRUE(station.runOnce());
  const auto report = station.report();
  EXPECT_EQ(port(report, 1)["picture"], "fail");
  EXPECT_EQ(port(report, 1)["slots"][0]["text"], "Card too \r\nsmall!!");
  EXPECT_FALSE(port(report, 1)["started"]);
}

TEST(ProductionRun, AMissingImageStopsTheRunBeforeItStarts) {
  // The two-LUN model, the only one with a CD-ROM image, with no image chosen.
  std::string settings = kProduction;
  settings.replace(settings.find("nICType=3"), 9, "nICType=4\r\nbCheckAutorun=1");
  StationOnFarm station(farmOf({reader("r1", 8)}), settings);
  station.start();
  station.host.runAndWait([&] { station.window->onClicked(station::id::kAutoStart); });
  ASSERT_FALSE(station.host.messages().empty());
  EXPECT_EQ(station.host.messages().back(), "Load ISO file Fail...... Please check again!!");
  EXPECT_TRUE(station.window->runEnded());
  EXPECT_TRUE(station.window->control(station::id::kAutoStart).enabled);
}

// The two-LUN model learns which LUN is the card from the configuration reply at the port start;
// wherever that reply fails, the port may pass only with a volume laid on its card.
TEST(ProductionRun, TwoLunReaderPassesOnlyWithItsCardPrepared) {
  std::string settings = kProduction;
  settings.replace(settings.find("nICType=3"), 9, "nICType=4");
  for (int after = 0; after < 10; ++after) {
    StationOnFarm station(
        farmOf({R"({"id": "r1", "model": "VQ301C-A-2LUN", "cardMiB": 16, "faults": [)"
                R"({"command": "GetVIDPID", "after": )" +
                std::to_string(after) + R"(, "fault": "fail"}]})"}),
        settings);
    station.start();
    ASSERT_TRUE(station.runOnce());
    if (port(station.report(), 1)["picture"] != "pass") continue;
    TARVIX_SKIP_WITHOUT_MTOOLS();
    const auto extent = station.farm->publicDisk(station.farm->letters("r1").at(0));
    ASSERT_TRUE(extent);
    const std::string target = extent->image.string() + "@@" + std::to_string(extent->firstByte);
    EXPECT_NE(mtools("minfo -i " + target + " ::").find("LINE1"), std::string::npos) << after;
  }
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
        R"({"imageDir": "img", "timeScale": 0.2, "hostControllers": [{"rootHubPorts": 2,
          "attached": [{"port": 1, "hub": {"ports": 7, "chips": 2, "attached": [
            {"port": 1, "reader": {"id": "a", "model": "VQ301C-A-1LUN", "cardMiB": 16)" +
            pullFault + R"(}},
            {"port": 2, "reader": {"id": "b", "model": "VQ301C", "cardMiB": 16,
              "plugged": false}}]}}]}]})",
        "");
    const auto image = station.dir() / "hidden.bin";
    { std::ofstream(image, std::ios::binary) << std::string(4096, 'h'); }
    std::ofstream(station.dir() / "TarvixValue.ini", std::ios::binary | std::ios::trunc)
        << "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\nbCheckFormat=1\r\n"
           "szLabel=LINE1\r\nbCheckBinFile=1\r\nszBinFilePath="
        << image.string() << "\r\n";
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

TEST(ProductionRun, ResetToDefaultEndsInTheDefaultPassPicture) {
  StationOnFarm station(farmOf({reader("r1", 16)}), kProduction);
  station.start();
  station.host.runAndWait([&] { station.window->onClicked(station::id::kResetToDefault); });
  ASSERT_TRUE(station.runOnce());
  EXPECT_EQ(port(station.report(), 1)["picture"], "default-pass");
}

} // namespace
} // namespace tarvix::testing
