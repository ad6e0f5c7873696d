// The copy files step on a farm card, read back with mtools: entries reached through a whole run
// (so their paths pass the run preparation), and the step alone on a volume a run formatted.
#include "e2e/station_on_farm.h"
#include "run/steps.h"
#include "support/portable.h"

namespace tarvix::testing {
namespace {

const std::string kCopyFileLoadFailed = "Load \"copy file\" fail......Please check again!!";

// A reader whose runs format the card and copy `entries` (keys of the [Copy File] section), with
// a file and a folder in the station's folder.
std::unique_ptr<StationOnFarm> stationCopying(const std::string& entries) {
  auto station = std::make_unique<StationOnFarm>(
      farmText(farmReader(1, "r1", "VQ305A", 16)),
      "[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=5\r\nbCheckFormat=1\r\n"
      "bCheckCopyFile=1\r\n[Copy File]\r\n" +
          entries);
  std::filesystem::create_directories(station->dir() / "Docs");
  std::ofstream(station->dir() / "readme.txt") << "for every card\n";
  std::ofstream(station->dir() / "Docs/manual.txt") << "inside the folder\n";
  station->start();
  return station;
}

// What the card's volume holds at `path`, as mtools reads it.
std::string onCard(StationOnFarm& station, const std::string& path) {
  const auto disk = station.farm->publicDisk(station.farm->letters("r1").at(0)).value();
  return shell("mtype -i " + disk.image.string() + "@@" + std::to_string(disk.firstByte) +
               " ::" + path)
      .output;
}

TEST(CopyFiles, EntriesAreCheckedAndCopiedFromTheStationsFolder) {
  TARVIX_SKIP_WITHOUT_MTOOLS();
  struct Case {
    const char* name;
    const char* entries;
    const char* onCard; // nullptr: the run is refused at its preparation
    const char* content = "";
  } cases[] = {
      {"relative file", "bCheckFile01=1\r\nszFilePath01=readme.txt\r\n", "/readme.txt",
       "for every card\n"},
      {"relative folder", "bCheckFolder01=1\r\nszFolderPath01=Docs\r\n", "/Docs/manual.txt",
       "inside the folder\n"},
      {"folder entry naming a file", "bCheckFolder01=1\r\nszFolderPath01=readme.txt\r\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto station = stationCopying(c.entries);
    ASSERT_TRUE(station->runOnce());
    if (c.onCard == nullptr) {
      // Refused at its start, a run leaves the options to the operator again.
      EXPECT_EQ(station->host.messages(), std::vector<std::string>{kCopyFileLoadFailed});
      EXPECT_FALSE(station->window->copyList().folder.chosen);
      EXPECT_TRUE(station->window->control(station::id::kAutoStart).enabled);
    } else {
      EXPECT_TRUE(station->host.messages().empty());
      EXPECT_EQ(onCard(*station, c.onCard), c.content);
      // The farm's clock runs ten thousand times faster, but the copy tool has its real time.
      EXPECT_GE(station->system.shortestTimeoutNs.load(), std::int64_t{30'000'000'000});
    }
  }
}

// Before the run preparation makes them absolute, names beginning with a dash still reach the
// tool as files.
TEST(CopyFiles, NamesThatLookLikeOptionsAreCopiedAsFiles) {
  TARVIX_SKIP_WITHOUT_MTOOLS();
  auto station = stationCopying("");
  ASSERT_TRUE(station->runOnce()); // a fresh volume, nothing copied
  std::ofstream(station->dir() / "-n") << "not an option\n";
  std::ofstream(station->dir() / "-ivictim.img") << "nor this\n";
  ASSERT_TRUE(station->runStep([](const run::StepContext& c, station::PortRecord& port) {
    run::RunOptions options = c.options;
    options.copyFiles = true;
    options.copyList.files[0] = {true, "-n"};
    options.copyList.files[1] = {true, "-ivictim.img"};
    const run::StepContext withList{c.platform, c.display, c.state,         options,
                                    c.images,   c.serials, c.languageOffset};
    return run::copyFilesStep(withList, port.driveIndex[0], port, 1);
  }));
  EXPECT_EQ(onCard(*station, "/-n"), "not an option\n");
  EXPECT_EQ(onCard(*station, "/-ivictim.img"), "nor this\n");
}

} // namespace
} // namespace tarvix::testing
