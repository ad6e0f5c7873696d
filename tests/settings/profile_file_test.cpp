#include "settings/copy_list.h"
#include "settings/profile_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

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

TEST_F(Profile, DamagedFilesAreRefusedWithTheirLine) {
  ProfileFile p;
  std::string error;
  EXPECT_FALSE(p.load(dir.path() / "missing.ini", error));
  EXPECT_NE(error.find("cannot be read"), std::string::npos);
  EXPECT_FALSE(p.load(write("c.ini", "[A]\r\nx=1\r\nthis is not a setting\r\n"), error));
  EXPECT_NE(error.find("c.ini:3"), std::string::npos) << error;
  EXPECT_FALSE(p.load(write("d.ini", "x=1\r\n"), error));
  EXPECT_NE(error.find("outside any [section]"), std::string::npos) << error;
  EXPECT_FALSE(p.load(write("e.ini", "[A\r\n"), error));
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
