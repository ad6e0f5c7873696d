// The window model at start-up, under the operator's edits and clicks, and in every language.
#include "app/control_table.h"
#include "app/window_fixture.h"
#include "text/pictures.h"
#include "text/texts.h"

namespace tarvix::app {
namespace {

using namespace station;

class Station : public WindowOnFakes {
protected:
  std::string label(int control) {
    std::string t;
    onWindow([&] { t = window->control(control).text; });
    return t;
  }
  static std::string table(int id) { return std::string(*text::lookup(id)); }
};

TEST_F(Station, FreshStartWithoutSettings) {
  fake.drives.mask = 0b11100;
  start();

  EXPECT_FALSE(window->controls().checked(id::kNoHubMap));
  EXPECT_FALSE(window->controls().checked(id::kHubMap));
  onWindow([&] {
    EXPECT_FALSE(window->control(id::kAutoStart).enabled);
    EXPECT_FALSE(window->control(id::kAutoStop).enabled);
    EXPECT_FALSE(window->control(id::kAutoStop).visible);
    for (int hub = 1; hub <= kHubCount; ++hub)
      EXPECT_FALSE(window->control(hubBoxId(hub)).visible);
    for (int port = 1; port <= kPortCount; ++port) {
      EXPECT_EQ(window->control(statusPictureId(port)).picture, text::kBlankPicture);
      EXPECT_EQ(window->control(progressBarId(port)).position, 0);
      EXPECT_EQ(window->control(progressBarId(port)).rangeHigh, kProgressMax);
      EXPECT_EQ(window->control(portBoxId(port)).font, FontChoice::ArialBlack10);
      for (int lun = 1; lun <= kLunsPerPort; ++lun) {
        const int slot = slotNumber(port, lun);
        EXPECT_EQ(window->control(resultLineId(slot)).visible, lun <= 2) << slot;
        EXPECT_EQ(window->control(slotLabelId(slot)).visible, lun <= 2) << slot;
      }
    }
    EXPECT_EQ(window->control(id::kLanguage).selectedRow, -1);
  });
  EXPECT_EQ(window->readers().driveMaskCurrent, 0b11100u);
  EXPECT_EQ(window->readers().driveMaskPrevious, 0b11100u);
  EXPECT_EQ(fake.system.adjustments, 1);
  for (const auto& port : window->readers().ports)
    EXPECT_TRUE(port.empty());
}

TEST_F(Station, EditLimitsAndRulesApplyToWhatTheOperatorTypes) {
  start();
  struct Case {
    int control;
    std::string typed;
    std::string kept;
  };
  const Case cases[] = {
      {id::kVid, "3c7dff", "3C7D"},
      {id::kPid, "a7", "A7"},
      {id::kVid, "3C7O-x1", "3C71"},
      {id::kManufacturer, "vendor name x", "VENDOR NA"},
      {id::kProduct, "card reader 2000 plus", "CARD READER 2000 PL"},
      {id::kSerial, "12a34567890123", "123456789012"},
      {id::kReadWriteCount, "-5x", "5"},
      {id::kMaxPower, "5000", "500"},
      {id::kDiskVendor, "ABCDEFGHIJ", "ABCDEFGH"},
      {id::kCdromProduct, "0123456789abcdefXYZ", "0123456789abcdef"},
      {id::kDiskLabel, "MY CARD LABEL", "MY CARD LAB"},
      // Limits count characters, not bytes: eleven Chinese characters fit.
      {id::kDiskLabel, "一二三四五六七八九十百千", "一二三四五六七八九十百"},
  };
  onWindow([&] {
    for (const Case& c : cases) {
      window->onTextEdited(c.control, c.typed);
      EXPECT_EQ(window->control(c.control).text, c.kept) << c.control;
    }
    window->onTextEdited(id::kSettingsPath, "typed into a read-only edit");
    EXPECT_EQ(window->control(id::kSettingsPath).text, "");
  });
}

TEST_F(Station, CheckBoxesToggleAndAboutOpensOnlyForItsCommand) {
  start();
  onWindow([&] {
    window->onClicked(id::kFormat);
    EXPECT_TRUE(window->control(id::kFormat).checked);
    window->onClicked(id::kFormat);
    EXPECT_FALSE(window->control(id::kFormat).checked);
    window->onSystemCommand(16);
    window->onSystemCommand(0x1F); // the low four bits belong to the platform
    window->onSystemCommand(32);
    window->onSystemCommand(0xF060);
  });
  EXPECT_EQ(host.aboutCount(), 2);
}

// --- Language -------------------------------------------------------------------------------

// A stored language wins over the system's, and one beyond the tables shows English; without one
// the system locale chooses, and only Chinese of the mainland or Taiwan is not English.
TEST_F(Station, TheStoredLanguageOrElseTheSystemLocaleLabelsTheWindow) {
  struct Case {
    const char* locale;
    int stored;
    int offset;
    int row; // selected in the language list
  };
  start();
  for (const Case c :
       {Case{"zh_TW.UTF-8", 0, 2000, -1}, Case{"zh_CN.UTF-8", 0, 1000, -1},
        Case{"ja_JP.UTF-8", 0, 0, -1}, Case{"de_DE.UTF-8", 0, 0, -1}, Case{"zh_HK.UTF-8", 0, 0, -1},
        Case{"zh_CN.UTF-8", 7, 0, -1}, Case{"zh_TW.UTF-8", 2, 1000, 1}}) {
    SCOPED_TRACE(std::string(c.locale) + " " + std::to_string(c.stored));
    fake.system.locale = c.locale;
    onWindow([&] { window->applyStoredLanguage(c.stored); });
    EXPECT_EQ(window->languageOffset(), c.offset);
    EXPECT_EQ(window->controls().selectedRow(id::kLanguage), c.row);
    // Every control with a text of the tables shows it in that language.
    onWindow([&] {
      for (int control : window->controlIds()) {
        const int textId = window->control(control).textId;
        if (textId >= 5000 && textId <= 5035 && control != id::kWriteParameter) {
          EXPECT_EQ(window->control(control).text, table(textId + c.offset)) << control;
        }
      }
    });
  }
}

TEST_F(Station, WriteParameterLabelNamesTheEepromForTheEepromModel) {
  start();
  onWindow([&] {
    window->controls().setSelectedRow(id::kIcType, 8); // VQ348, the EEPROM model
    for (int row : {0, 1, 2}) {
      window->onRowSelected(id::kLanguage, row);
      EXPECT_EQ(window->control(id::kWriteParameter).text, table(5043 + row * 1000));
    }
    window->controls().setSelectedRow(id::kIcType, 3);
    window->onRowSelected(id::kLanguage, 2);
    EXPECT_EQ(window->control(id::kWriteParameter).text, table(7014));
  });
}

TEST_F(Station, SwitchingLanguageKeepsPortBoxesAndReportsInTheNewOne) {
  start();
  const int line = resultLineId(slotNumber(4, 1));
  window->controls().setText(line, *window->localText(5045));
  window->controls().setPicture(statusPictureId(4), *text::pictureId(text::PictureRole::Fail, 0));
  onWindow([&] { window->onRowSelected(id::kLanguage, 2); });
  EXPECT_EQ(window->controls().text(line), "Format \r\nFail !!\r\n");
  onWindow([&] { EXPECT_EQ(window->control(statusPictureId(4)).picture, 134); });
  EXPECT_EQ(*window->localText(5045), "格式化失敗\r\n");
  EXPECT_EQ(*window->localText(text::kSettingsLoaded), "Load file sucess !!");
  EXPECT_EQ(label(id::kAutoStart), "自動測試開始");
  // No selection falls back to the system language.
  fake.system.locale = "zh_CN";
  onWindow([&] { window->onRowSelected(id::kLanguage, -1); });
  EXPECT_EQ(window->languageChosen(), 0);
  EXPECT_EQ(window->languageOffset(), 1000);
}

TEST_F(Station, FixedTextsKeepTheirTextInEveryLanguage) {
  start();
  onWindow([&] { window->onRowSelected(id::kLanguage, 1); });
  EXPECT_EQ(label(id::kIncrease), "Increase");
  EXPECT_EQ(label(id::kPowerMa), "(406 mA)"); // the default maximum power, 203 units of 2 mA
  EXPECT_EQ(label(portBoxId(5)), "Port 5");
  EXPECT_EQ(label(hubBoxId(2)), "HUB 2");
  EXPECT_EQ(window->caption(), "Tarvix 100.0.0.6");
}

} // namespace
} // namespace tarvix::app
