// The settings file as the station uses it: start-up load, exit save, the Load and Save buttons.
#include "app/window_fixture.h"

#include <algorithm>
#include <fstream>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace tarvix::app {
namespace {

namespace fs = std::filesystem;

class Settings : public WindowOnFakes {
protected:
  void write(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string read(const fs::path& path) { return testing::readFile(path); }
  fs::path defaultFile() const { return dir / "TarvixValue.ini"; }
};

TEST_F(Settings, FreshStartWritesTheDefaultFileAtExit) {
  start();
  EXPECT_EQ(text(id::kSettingsPath), "");
  EXPECT_EQ(text(id::kManufacturer), " Generic"); // a default loses its trailing blank too
  EXPECT_EQ(text(id::kDiskVendor), "Mass");
  EXPECT_EQ(text(id::kSerial), "000000000001");
  EXPECT_EQ(window->serials().next(), "000000000001");
  onWindow([&] { window->close(); });

  const std::string saved = read(defaultFile());
  std::vector<std::size_t> order;
  for (const char* s :
       {"[Language]", "[Hub Port map]", "[Test Item]", "[CardInfor]", "[Copy File]"}) {
    order.push_back(saved.find(s));
    EXPECT_NE(order.back(), std::string::npos) << s;
  }
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  for (const char* line : {"nLan=0\r\n", "szVID=3C7D\r\n", "nMaxPower=203\r\n", "nLEDSpeed=3\r\n",
                           "bCheckHub=0\r\n", "szLabel=Public Disk\r\n", "nRWTestCount=5\r\n",
                           "bCheckFile06=0\r\n", "szFolderPath01=\r\n", "bCheckCapacity=0\r\n"}) {
    EXPECT_NE(saved.find(line), std::string::npos) << line;
  }
}

TEST_F(Settings, StoredValuesReachTheWindow) {
  const fs::path iso = dir / "AutoRun.iso";
  write(iso, "iso");
  write(defaultFile(),
        "[Hub Port map]\r\nbCheckNOHub=1\r\nbCheckHub=1\r\n"
        "[Test Item]\r\nnICType=4\r\nbCheckFormat=1\r\nbCheckCapacity=1\r\nszLabel=CARD\r\n"
        "szISOFilePath=" +
            iso.string() + "\r\nszBinFilePath=" + (dir / "gone.bin").string() +
            "\r\nbCheckBinFile=1\r\n"
            "[CardInfor]\r\nnMaxPower=250\r\nszSerialNum=42\r\n[Language]\r\nnLan=3\r\n");
  start();
  EXPECT_TRUE(window->controls().checked(id::kNoHubMap));
  EXPECT_FALSE(window->controls().checked(id::kHubMap));
  EXPECT_EQ(window->controls().selectedRow(id::kIcType), 4);
  EXPECT_EQ(text(id::kDiskLabel), "CARD");
  EXPECT_EQ(text(id::kIsoPath), iso.string());
  EXPECT_EQ(text(id::kBinaryPath), ""); // the image is gone: its path is dropped
  EXPECT_TRUE(window->controls().checked(id::kBinaryFile));
  EXPECT_EQ(text(id::kMaxPower), "250");
  EXPECT_EQ(text(id::kPowerMa), "(500 mA)");
  EXPECT_EQ(window->serials().next(), "42");
  EXPECT_EQ(window->languageOffset(), 2000);
  EXPECT_EQ(text(id::kAutoStart), "自動測試開始");
  EXPECT_TRUE(window->controls().checked(id::kCapacityCheck));
  EXPECT_EQ(text(id::kCapacityCheck), "容量檢測");
  EXPECT_EQ(text(id::kSettingsPath), defaultFile().string());
}

// A loaded file leaves the window as a start with it would: a mapping mode it does not name stays,
// and the model it names brings its own option group.
TEST_F(Settings, LoadButtonReadsANamedFileAndExitLeavesItAlone) {
  write(defaultFile(), "[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=0\r\n");
  start();
  fs::path named = dir / "nowhere.ini"; // first a file that cannot be read: nothing changes
  host.setPathResponder([&](const ui::PathRequest&) { return std::optional<fs::path>(named); });
  onWindow([&] { window->onClicked(id::kLoadIni); });
  EXPECT_NE(host.messages().back().find("cannot be read"), std::string::npos);
  EXPECT_EQ(text(id::kSettingsPath), defaultFile().string());

  named = dir / "line2.ini";
  const std::string content =
      "[Language]\r\nnLan=2\r\n[Test Item]\r\nnICType=8\r\nszLabel=LINE2\r\n";
  write(named, content);
  onWindow([&] { window->onClicked(id::kLoadIni); });
  EXPECT_EQ(host.messages().back(), "Load file sucess !!");
  EXPECT_EQ(text(id::kDiskLabel), "LINE2");
  EXPECT_EQ(window->languageOffset(), 1000);
  EXPECT_EQ(text(id::kSettingsPath), named.string());
  EXPECT_TRUE(window->controls().checked(id::kNoHubMap));
  EXPECT_TRUE(window->control(id::kAutoStart).enabled);
  EXPECT_EQ(window->controls().selectedRow(id::kIcType), 8);
  EXPECT_TRUE(window->control(id::kLedSpeed).visible); // the EEPROM model's group
  EXPECT_EQ(window->control(id::kManufacturer).textLimit, 12);

  onWindow([&] { window->close(); });
  EXPECT_EQ(read(named), content);
  EXPECT_NE(read(defaultFile()).find("szLabel=LINE2"), std::string::npos);
}

TEST_F(Settings, ADamagedLineCostsOnlyItselfAndOutlivesTheExitSave) {
  const std::string kept[] = {"~~ not a setting\r\n", "; line 4\r\n", "szOtherTool=keep\r\n"};
  write(defaultFile(), "[Hub Port map]\r\nbCheckHub=1\r\n" + kept[0] + "[CardInfor]\r\n" + kept[1] +
                           "szVID=1B2C\r\nszSerialNum=000000000500\r\n" + kept[2]);
  start();
  EXPECT_TRUE(window->controls().checked(id::kHubMap));
  EXPECT_EQ(text(id::kVid), "1B2C");
  EXPECT_EQ(window->serials().next(), "000000000500");
  EXPECT_NE(fake.trace.lines().back().find(":3: not a key=value line, skipped"), std::string::npos);

  onWindow([&] { window->close(); });
  const std::string saved = read(defaultFile());
  for (const std::string& line : kept)
    EXPECT_NE(saved.find(line), std::string::npos) << line;
  for (const char* line : {"bCheckHub=1\r\n", "szVID=1B2C\r\n", "szSerialNum=000000000500\r\n"})
    EXPECT_NE(saved.find(line), std::string::npos) << line;
}

TEST_F(Settings, ANamedStationFileIsReadAtStartAndSavedBackAtExit) {
  const fs::path named = dir / "line3.ini";
  write(named, "[CardInfor]\r\nszSerialNum=000000000077\r\n");
  window->setStationSettingsPath(named);
  start();
  EXPECT_EQ(text(id::kSettingsPath), named.string());
  EXPECT_EQ(window->serials().file(), named);
  onWindow([&] {
    window->onTextEdited(id::kSerial, "88");
    window->close();
  });
  EXPECT_NE(read(named).find("szSerialNum=88\r\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(defaultFile()));
}

TEST_F(Settings, SaveButtonWritesTheChosenFileOrSaysItCouldNot) {
  start();
  fs::path answer = dir / "saved"; // no suffix: ".ini" is added
  ui::PathRequest asked;
  host.setPathResponder([&](const ui::PathRequest& r) {
    asked = r;
    return std::optional<fs::path>(answer);
  });
  onWindow([&] {
    window->onTextEdited(id::kDiskLabel, "SAVED");
    window->onClicked(id::kSaveIni);
  });
  EXPECT_EQ(host.messages().back(), "Save file sucess!!");
  EXPECT_NE(read(dir / "saved.ini").find("szLabel=SAVED\r\n"), std::string::npos);
  EXPECT_EQ(asked.start.filename(), "TarvixValue.ini"); // offered as the name, not the title
  EXPECT_EQ(asked.title, "Save .ini File");

  answer = dir / "no-such-folder" / "x.ini";
  onWindow([&] { window->onClicked(id::kSaveIni); });
  EXPECT_EQ(host.messages().back(), answer.string() + ": cannot be written, nor can its folder " +
                                        answer.parent_path().string() + " take a new file");
  // Nor are the settings lost without a word when the station closes.
  window->setStationSettingsPath(answer);
  onWindow([&] { window->close(); });
  EXPECT_EQ(host.messages().back().rfind(answer.string() + ": cannot be written", 0), 0u);
}

TEST_F(Settings, StoredValuesTheEditsWouldRefuseTakeTheirDefaults) {
  struct Case {
    std::string lines; // of one section
    int control;
    std::string shown; // an edit's text, or a combo's row
  };
  const std::string full = "\xEF\xBC\x91\xEF\xBC\x92"; // full-width 1 and 2
  const Case cases[] = {
      {"[Test Item]\r\nnRWTestCount=abc", id::kReadWriteCount, "5"},
      {"[Test Item]\r\nnRWTestCount=2147483647", id::kReadWriteCount, "5"},
      {"[Test Item]\r\nnICType=9", id::kIcType, "0"},
      {"[Test Item]\r\nnICType=-1", id::kIcType, "0"},
      {"[Test Item]\r\nszLabel=A*B", id::kDiskLabel, "Public Disk"},
      {"[Test Item]\r\nszLabel=.", id::kDiskLabel, "Public Disk"},
      {"[Test Item]\r\nszLabel=TAB\tIN", id::kDiskLabel, "Public Disk"},
      {"[CardInfor]\r\nszSerialNum=-5", id::kSerial, "000000000001"},
      {"[CardInfor]\r\nszSerialNum=" + full, id::kSerial, "000000000001"},
      {"[CardInfor]\r\nszSerialNum=1234567890123", id::kSerial, "000000000001"},
      {"[CardInfor]\r\nszVID=3C7O", id::kVid, "3C7D"},
      {"[CardInfor]\r\nnMaxPower=4096", id::kMaxPower, "203"},
      {"[CardInfor]\r\nnLEDSpeed=7", id::kLedSpeed, "3"},
      // What the edits would take passes untouched.
      {"[Test Item]\r\nszLabel=CARD 2", id::kDiskLabel, "CARD 2"},
      {"[CardInfor]\r\nszVendor=Acme Corp", id::kManufacturer, "Acme Corp"},
      {"[CardInfor]\r\nszVID=1b2c", id::kVid, "1b2c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    write(defaultFile(), c.lines + "\r\n");
    fake.trace.clear();
    start();
    const ControlRecord& r = window->control(c.control);
    EXPECT_EQ(r.kind == ControlKind::DropDown ? std::to_string(r.selectedRow) : r.text, c.shown);
    const bool refused = std::ranges::any_of(fake.trace.lines(), [](const std::string& l) {
      return l.find("is not allowed, default used") != std::string::npos;
    });
    EXPECT_EQ(refused, c.lines.find(c.shown) == std::string::npos); // a default came in
    window.reset();
  }
}

// Neither blocks nor fills the start-up: a stored image that is no file is dropped unopened.
TEST_F(Settings, AStoredImageThatIsAFifoIsDroppedUnopened) {
#ifdef _WIN32
  GTEST_SKIP() << "stands a named pipe (mkfifo) in for the image; Windows has no such file";
#else
  const fs::path fifo = dir / "image.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  write(defaultFile(), "[Test Item]\r\nbCheckBinFile=1\r\nszBinFilePath=" + fifo.string() + "\r\n");
  start();
  EXPECT_EQ(text(id::kBinaryPath), "");
#endif
}

} // namespace
} // namespace tarvix::app
