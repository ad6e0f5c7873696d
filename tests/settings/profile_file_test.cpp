#include "settings/copy_list.h"
#include "settings/profile_file.h"
#include "settings/station_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tarvix::settings {
namespace {

namespace fs = std::filesystem;

class Profile : public ::testing::Test {
protected:
  fs::path write(const std::string& name, const std::string& content) {
    return dir.write(name, content);
  }
  static std::string read(const fs::path& path) { return testing::readFile(path); }

  testing::TempDir dir;
};

TEST_F(Profile, ReadsFollowTheProfileRules) {
  ProfileFile p;
  std::string error;
  ASSERT_TRUE(p.load(write("a.ini", "; comment\r\n[CardInfor]\r\nszVendor= Acme   \r\n"
                                    "nMaxPower=250mA\r\nnLEDSpeed=-2\r\nszLong=" +
                                        std::string(200, 'x') + "\r\n[Other]\r\nnLEDSpeed=9\r\n"),
                     error))
      << error;
  EXPECT_EQ(p.text("CardInfor", "szVendor", "x"), " Acme"); // trailing blanks go, leading stay
  EXPECT_EQ(p.text("cardinfor", "SZVENDOR", "x"), " Acme"); // names ignore case
  EXPECT_EQ(p.text("CardInfor", "szMissing", "Mass    "), "Mass");
  EXPECT_EQ(p.text("CardInfor", "szLong", "").size(), 127u);
  EXPECT_EQ(p.integer("CardInfor", "nMaxPower", 203), 250);
  EXPECT_EQ(p.integer("CardInfor", "nLEDSpeed", 3), -2);
  EXPECT_EQ(p.integer("CardInfor", "nMissing", 3), 3);
  EXPECT_EQ(p.integer("Other", "nLEDSpeed", 3), 9);
}

TEST_F(Profile, WritesReplaceInPlaceAndAppendToTheirSection) {
  ProfileFile p;
  std::string error;
  ASSERT_TRUE(p.load(write("b.ini", "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n"), error));
  p.setInteger("A", "x", 7);
  p.setText("A", "w", "new");
  p.setCheck("C", "c", true);
  ASSERT_TRUE(p.save(dir.path() / "b.ini"));
  EXPECT_EQ(read(dir.path() / "b.ini"),
            "[A]\r\nx=7\r\ny=2\r\nw=new\r\n[B]\r\nz=3\r\n[C]\r\nc=1\r\n");
}

TEST_F(Profile, ALineNotUnderstoodIsSkippedAndKeptWhereItWas) {
  // Each file holds one line that is no setting; the keys around it are read all the same.
  const std::pair<std::string, std::string> files[] = {
      {"garbage line", "[A]\r\nx=1\r\ngarbage line\r\ny=2\r\n"},
      {"key outside a section", "x=9\r\n[A]\r\nx=1\r\ny=2\r\n"},
      {"broken header", "[A]\r\nx=1\r\ny=2\r\n[B\r\nx=8\r\n"},
      {"empty key", "[A]\r\nx=1\r\n=5\r\ny=2\r\n"},
  };
  for (const auto& [name, content] : files) {
    SCOPED_TRACE(name);
    ProfileFile p;
    std::string error;
    const fs::path file = write("f.ini", content);
    ASSERT_TRUE(p.load(file, error)) << error;
    EXPECT_EQ(p.integer("A", "x", 0), 1);
    EXPECT_EQ(p.integer("A", "y", 0), 2);
    EXPECT_FALSE(p.skippedLines().empty());
    // Only the keys written change; every other line stays as and where it was.
    p.setInteger("A", "y", 3);
    ASSERT_TRUE(p.save(file));
    std::string expected = content;
    expected.replace(expected.find("y=2"), 3, "y=3");
    EXPECT_EQ(read(file), expected);
  }
  ProfileFile p;
  std::string error;
  EXPECT_FALSE(p.load(dir.path() / "missing.ini", error));
  EXPECT_NE(error.find("cannot be read"), std::string::npos);
}

TEST_F(Profile, AWriterKilledMidSaveLeavesTheOldFileOrTheNew) {
#ifdef _WIN32
  GTEST_SKIP() << "kills a forked writer; Windows has no fork";
#else
  auto filled = [](char c) {
    ProfileFile p;
    for (int i = 0; i < 2000; ++i)
      p.setText("S", "k" + std::to_string(i), std::string(400, c));
    return p;
  };
  const ProfileFile before = filled('a');
  const ProfileFile after = filled('b');
  const fs::path file = dir.path() / "v.ini";
  ASSERT_TRUE(after.save(file));
  const std::string newer = read(file);
  ASSERT_TRUE(before.save(file));
  const std::string older = read(file);
  for (int round = 0; round < 20; ++round) {
    const pid_t writer = fork();
    if (writer == 0) {
      for (;;) {
        after.save(file);
        before.save(file);
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500 + 700 * round));
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    const std::string left = read(file);
    EXPECT_TRUE(left == older || left == newer) << "round " << round << ": " << left.size();
  }
#endif
}

#ifndef _WIN32
// What `work` returns when an ordinary account runs it: root writes anywhere, so a folder's
// permissions bind only the others.
std::string asOrdinaryAccount(const std::function<std::string()>& work) {
  if (::geteuid() != 0) return work();
  int ends[2];
  if (::pipe(ends) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    constexpr gid_t kNobody = 65534;
    const std::string said =
        ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 ? work() : "no ordinary account";
    _exit(::write(ends[1], said.data(), said.size()) == static_cast<ssize_t>(said.size()) ? 0 : 1);
  }
  ::close(ends[1]);
  std::string said;
  char buffer[256];
  for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
    said.append(buffer, static_cast<std::size_t>(n));
  ::close(ends[0]);
  ::waitpid(child, nullptr, 0);
  return said;
}
#endif

// An installed station's settings file that an administrator made writable, in a folder that
// takes no new file: it is saved in place; when the file cannot be written either, the reason
// names the folder.
TEST_F(Profile, AWritableFileInAFolderThatTakesNoNewFileIsSavedInPlace) {
#ifdef _WIN32
  GTEST_SKIP() << "the account that may not write the folder is a POSIX one here";
#else
  const fs::path folder = dir.path() / "installed";
  fs::create_directories(folder);
  const fs::path file = folder / "TarvixValue.ini";
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
  fs::permissions(folder, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  for (const bool fileWritable : {true, false}) {
    SCOPED_TRACE(fileWritable);
    write("installed/TarvixValue.ini", "[Language]\r\nnLan=1\r\n");
    fs::permissions(file, fileWritable ? fs::perms::all : fs::perms::owner_all);
    // The serial number counter in it can be locked exactly when it can be saved.
    const std::string said = asOrdinaryAccount([&] {
      ProfileFile p;
      p.setInteger("Language", "nLan", 2);
      const bool locked = SerialCounterLock(file).held();
      return (p.save(file) ? std::string("saved") : notSavedText(file)) +
             (locked ? ", locked" : "");
    });
    EXPECT_EQ(said, fileWritable ? "saved, locked"
                                 : file.string() + ": cannot be written, nor can its folder " +
                                       folder.string() + " take a new file");
    EXPECT_EQ(read(file), "[Language]\r\nnLan=" + std::string(fileWritable ? "2" : "1") + "\r\n");
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
#endif
}

TEST_F(Profile, TheStationFileIsBesideABuildTreeAndStationWideWhenInstalled) {
  const fs::path config = dir.path() / "config";
  const fs::path station = dir.path() / "station";
  const fs::path writable = dir.path() / "bin";
  fs::create_directories(writable);
  const fs::path kept = dir.path() / "kept";
  fs::create_directories(kept);
  write("kept/TarvixValue.ini", "[Language]\r\n");
#ifdef _WIN32
  const fs::path perUser = config / "Tarvix" / "TarvixValue.ini";
#else
  const fs::path perUser = config / "tarvix" / "TarvixValue.ini";
#endif
  // /proc takes no new file from anyone, root included: the read-only folder of an installation.
  // /usr/bin takes root's, and still is no place for settings.
  struct Case {
    fs::path executableFolder;
    fs::path stationFolder;
    fs::path expected;
  };
  const Case cases[] = {
      {writable, station, writable / "TarvixValue.ini"},  {kept, station, kept / "TarvixValue.ini"},
      {"/proc", station, station / "TarvixValue.ini"},    {"/proc", {}, perUser},
#ifndef _WIN32
      {"/usr/bin", station, station / "TarvixValue.ini"},
#endif
  };
  for (const Case& c : cases) {
    EXPECT_EQ(stationSettingsPath(c.executableFolder, c.stationFolder, config), c.expected)
        << c.executableFolder << " " << c.stationFolder;
  }
  EXPECT_TRUE(fs::is_directory(perUser.parent_path()));
  EXPECT_FALSE(fs::exists(station)); // the package makes it, never a station
  EXPECT_EQ(std::distance(fs::directory_iterator(writable), fs::directory_iterator()), 0);
}

TEST_F(Profile, CopyListRoundTripsWithNumberedKeys) {
  CopyList list;
  list.files[0] = {true, "/data/a.txt"};
  list.files[5] = {false, "/data/f.txt"};
  list.folder = {true, "/data/docs"};
  ProfileFile p;
  list.save(p);
  ASSERT_TRUE(p.save(dir.path() / "copy.ini"));
  const std::string saved = read(dir.path() / "copy.ini");
  EXPECT_NE(saved.find("bCheckFile01=1\r\n"), std::string::npos);
  EXPECT_NE(saved.find("szFilePath06=/data/f.txt\r\n"), std::string::npos);
  EXPECT_LT(saved.find("bCheckFolder01"), saved.find("szFilePath01"));

  ProfileFile back;
  std::string error;
  ASSERT_TRUE(back.load(dir.path() / "copy.ini", error));
  CopyList loaded;
  loaded.load(back);
  EXPECT_TRUE(loaded.files[0].chosen);
  EXPECT_EQ(loaded.files[5].path, "/data/f.txt");
  EXPECT_EQ(loaded.folder.path, "/data/docs");
}

// Inputs the fuzzer found: a text the operator can give (a file name may hold any byte but '/')
// must read back from the saved file as it read before, and leave the keys after it alone.
TEST_F(Profile, TextsReadBackFromTheSavedFileAsWritten) {
  const std::string cases[] = {
      "TARVIX\n/data/a b.iso", // a line break made the whole file unreadable
      "/data/a.iso\r\n[Copy File]\r\nszFilePath01=/etc", // ... or slipped in a key of its own
      "/data/a.iso\t",                                   // the reader drops what the writer kept
      "\x8d\xd8xx\xff\xff\rtail",
  };
  for (const std::string& value : cases) {
    ProfileFile written;
    written.setText("Test Item", "szISOFilePath", value);
    written.setInteger("Test Item", "nRWTestCount", 2);
    ASSERT_TRUE(written.save(dir.path() / "w.ini"));
    ProfileFile back;
    std::string error;
    ASSERT_TRUE(back.load(dir.path() / "w.ini", error)) << error;
    EXPECT_EQ(back.text("Test Item", "szISOFilePath", "-"),
              written.text("Test Item", "szISOFilePath", "-"));
    EXPECT_EQ(back.integer("Test Item", "nRWTestCount", 0), 2);
    EXPECT_EQ(back.text("Copy File", "szFilePath01", "-"), "-");
  }
}

} // namespace
} // namespace tarvix::settings
