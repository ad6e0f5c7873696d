// The copy files step on a farm card, read back with mtools: entries reached through a whole run
// (so their paths pass the run preparation), and the step alone on a volume a run formatted.
#include "run/step_fixture.h"

#include <cstdio>

namespace tarvix::run_test {
namespace {

const std::string kCopyFileLoadFailed = "Load \"copy file\" fail......Please check again!!";

class CopyFiles : public StepOnFarm {
protected:
  // A reader whose runs format the card and copy `entries` (keys of the [Copy File] section).
  void startWith(const std::string& entries) {
    start(R"("cardMiB": 16)", "VQ305A", kRowVq305a, true,
          "[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=5\r\nbCheckFormat=1\r\n"
          "bCheckCopyFile=1\r\n[Copy File]\r\n" +
              entries);
    put("readme.txt", "for every card\n");
    put("Docs/manual.txt", "inside the folder\n");
  }
  // A file in the station's folder.
  void put(const std::string& name, const std::string& content) {
    const auto path = station->dir() / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  // What the card's volume holds at `path`, as mtools reads it.
  std::string onCard(const std::string& path) {
    return testing::mtools("mtype -i " + disk().image.string() + "@@" +
                           std::to_string(disk().firstByte) + " ::" + path);
  }
};

TEST_F(CopyFiles, EntriesAreCheckedAndCopiedFromTheStationsFolder) {
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
    startWith(c.entries);
    ASSERT_TRUE(station->runOnce());
    if (c.onCard == nullptr) {
      EXPECT_EQ(station->host.messages(), std::vector<std::string>{kCopyFileLoadFailed});
      EXPECT_FALSE(station->window->copyList.folder.chosen);
    } else {
      EXPECT_TRUE(station->host.messages().empty());
      EXPECT_EQ(onCard(c.onCard), c.content);
    }
  }
}

// Before the run preparation makes them absolute, names beginning with a dash still reach the
// tool as files.
TEST_F(CopyFiles, NamesThatLookLikeOptionsAreCopiedAsFiles) {
  TARVIX_SKIP_WITHOUT_MTOOLS();
  startWith("");
  ASSERT_TRUE(station->runOnce()); // a fresh volume, nothing copied
  put("-n", "not an option\n");
  put("-ivictim.img", "nor this\n");
  run::RunOptions options = context().options;
  options.copyFiles = true;
  options.copyList.files[0] = {true, "-n"};
  options.copyList.files[1] = {true, "-ivictim.img"};
  run::StepContext withList{*platform, *controls, *station->window, options};
  ASSERT_TRUE(onWorker([&] { return run::copyFilesStep(withList, drive(), port(), 1); }));
  EXPECT_EQ(onCard("/-n"), "not an option\n");
  EXPECT_EQ(onCard("/-ivictim.img"), "nor this\n");
}

} // namespace
} // namespace tarvix::run_test
