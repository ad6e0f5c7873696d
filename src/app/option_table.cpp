#include "app/option_table.h"

#include "run/serial_counter.h"
#include "settings/settings_keys.h"
#include "station/control_ids.h"
#include "station/models.h"
#include "text/text_ids.h"

#include <charconv>

namespace tarvix::app {
namespace {

using K = ControlKind;
using run::RunOptions;
using R = const ControlRecord&;
namespace key = settings::key;
namespace fallback = settings::fallback;
namespace section = settings::section;

constexpr Area kTop = Area::TopBar;
constexpr Area kGeneral = Area::GeneralTest;
constexpr Area kCard = Area::CardInformation;
constexpr Area kBinary = Area::BinaryImage;
constexpr Area kCdrom = Area::CdromImage;

constexpr OptionLock kRun{true};
constexpr OptionLock kRunAndReset{true, ResetLock::Always};
constexpr OptionLock lockedUnless(int box) { return {true, ResetLock::Always, box}; }
constexpr OptionLock kWithWriteParameter = lockedUnless(id::kWriteParameter);
constexpr OptionLock pathLockedUnless(int box) { return {true, ResetLock::WithWriteParameter, box}; }

constexpr Setting check(std::string_view s, std::string_view k) { return {s, k, Stored::Check}; }
constexpr Setting mapping(std::string_view k) {
  return {section::kHubPortMap, k, Stored::MappingCheck};
}
constexpr Setting rowOf(std::string_view k, int fallbackRow, int lastRow) {
  return {section::kTestItem, k, Stored::Row, {}, fallbackRow, lastRow};
}
constexpr Setting textOf(std::string_view s, std::string_view k, std::string_view fallbackText,
                         int characters, Allowed allowed = Allowed::Any) {
  return {s, k, Stored::Text, fallbackText, 0, characters, allowed};
}
constexpr Setting pathOf(std::string_view k) { return {section::kTestItem, k, Stored::Path}; }
constexpr Setting card(std::string_view k, std::string_view fallbackText, int characters,
                       Allowed allowed = Allowed::Any) {
  return textOf(section::kCardInfor, k, fallbackText, characters, allowed);
}

constexpr int kLastLlfRow = 3;
constexpr int kLastLedRow = 3;
constexpr int kLastLanguage = 3;
constexpr int kLargestMaxPower = 999;
constexpr int kLabelCharacters = 11;
constexpr int kShortEdit = 52;
constexpr int kPathEdit = 230;

// Stored controls first, in the settings file's order; then the rest of the option area.
constexpr OptionSpec kOptions[] = {
    {id::kLanguage, K::DropDown, "", 0, {kTop, 0, 10}, kRun, ModelGroup::Always,
     {section::kLanguage, key::kLan, Stored::Language, {}, 0, kLastLanguage}},
    {id::kNoHubMap, K::CheckBox, "NO Hub Map", 5000, {kTop, 0, 0}, {}, ModelGroup::Always,
     mapping(key::kCheckNoHub)},
    {id::kHubMap, K::CheckBox, "Hub Map", 5001, {kTop, 0, 1}, {}, ModelGroup::Always,
     mapping(key::kCheckHub)},
    {id::kIcType, K::DropDown, "", 0, {kTop, 0, 7}, kRunAndReset, ModelGroup::Always,
     rowOf(key::kIcType, 0, station::kModelCount - 1),
     [](RunOptions& o, R c) { o.icType = c.selectedRow; }},
    {id::kLlf, K::CheckBox, "LLF", 5008, {kGeneral, 0, 0}, kRunAndReset, ModelGroup::Always,
     check(section::kTestItem, key::kCheckLowFormat),
     [](RunOptions& o, R c) { o.lowLevelFormat = c.checked; }},
    {id::kLlfExtent, K::DropDown, "", 0, {kGeneral, 0, 1}, lockedUnless(id::kLlf),
     ModelGroup::Always, rowOf(key::kLlfSelect, 0, kLastLlfRow),
     [](RunOptions& o, R c) { o.llfSelect = c.selectedRow; }},
    {id::kFormat, K::CheckBox, "Format", 5009, {kGeneral, 1, 0}, kRunAndReset, ModelGroup::Always,
     check(section::kTestItem, key::kCheckFormat),
     [](RunOptions& o, R c) { o.format = c.checked; }},
    {id::kReadWriteTest, K::CheckBox, "Read/Write Test", 5011, {kGeneral, 2, 0}, kRunAndReset,
     ModelGroup::Always, check(section::kTestItem, key::kCheckRwTest),
     [](RunOptions& o, R c) { o.readWriteTest = c.checked; }},
    {id::kWriteParameter, K::CheckBox, "Write parameter to card", 5014, {kCard, 0, 0, 2},
     kRunAndReset, ModelGroup::CardInformation, check(section::kTestItem, key::kCheckCardInfor),
     [](RunOptions& o, R c) { o.writeParameter = c.checked; }},
    {id::kCdromIso, K::CheckBox, "CD-ROM ISO", 5032, {kCdrom, 0, 0}, kRunAndReset,
     ModelGroup::CdromImage, check(section::kTestItem, key::kCheckAutorun),
     [](RunOptions& o, R c) { o.cdromArea = c.checked; }},
    {id::kBinaryFile, K::CheckBox, "Binary File", 5029, {kBinary, 0, 0}, kRunAndReset,
     ModelGroup::BinaryImage, check(section::kTestItem, key::kCheckBinFile),
     [](RunOptions& o, R c) { o.binaryArea = c.checked; }},
    {id::kCopyFile, K::CheckBox, "Copy File", 5012, {kGeneral, 3, 0}, kRunAndReset,
     ModelGroup::Always, check(section::kTestItem, key::kCheckCopyFile),
     [](RunOptions& o, R c) { o.copyFiles = c.checked; }},
    {id::kCapacityCheck, K::CheckBox, "Capacity Check", text::kCapacityCheckLabel,
     {kGeneral, 4, 0}, kRunAndReset, ModelGroup::Always,
     check(section::kTestItem, key::kCheckCapacity),
     [](RunOptions& o, R c) { o.capacityCheck = c.checked; }},
    {id::kDiskLabel, K::Edit, "", 0, {kGeneral, 1, 2}, lockedUnless(id::kFormat),
     ModelGroup::Always,
     textOf(section::kTestItem, key::kLabel, fallback::kLabel, kLabelCharacters,
            Allowed::FatLabel),
     [](RunOptions& o, R c) { o.diskLabel = c.text; }, EditRule::Any, kLabelCharacters},
    {id::kReadWriteCount, K::Edit, "", 0, {kGeneral, 2, 1, 1, kShortEdit},
     lockedUnless(id::kReadWriteTest), ModelGroup::Always,
     textOf(section::kTestItem, key::kRwTestCount, fallback::kRwTestCount, kReadWriteCountDigits,
            Allowed::Digits),
     [](RunOptions& o, R c) { o.rwTestCount = editNumber(c.text); }, EditRule::Digits,
     kReadWriteCountDigits},
    {id::kIsoPath, K::Edit, "", 0, {kCdrom, 1, 0, 2, kPathEdit}, pathLockedUnless(id::kCdromIso),
     ModelGroup::CdromImage, pathOf(key::kIsoFilePath),
     [](RunOptions& o, R c) { o.isoPath = c.text; }, EditRule::Any, 0, true},
    {id::kBinaryPath, K::Edit, "", 0, {kBinary, 1, 0, 2, kPathEdit},
     pathLockedUnless(id::kBinaryFile), ModelGroup::BinaryImage, pathOf(key::kBinFilePath),
     [](RunOptions& o, R c) { o.binPath = c.text; }, EditRule::Any, 0, true},
    // Manufacturer and product may be stored as long as the EEPROM model's edits allow.
    {id::kVid, K::Edit, "", 0, {kCard, 0, 3, 1, kShortEdit}, kWithWriteParameter,
     ModelGroup::CardInformation, card(key::kVid, fallback::kVid, 4, Allowed::HexDigits),
     [](RunOptions& o, R c) { o.card.vid = c.text; }, EditRule::HexDigits, 4},
    {id::kPid, K::Edit, "", 0, {kCard, 0, 5, 1, kShortEdit}, kWithWriteParameter,
     ModelGroup::CardInformation, card(key::kPid, fallback::kPid, 4, Allowed::HexDigits),
     [](RunOptions& o, R c) { o.card.pid = c.text; }, EditRule::HexDigits, 4},
    {id::kManufacturer, K::Edit, "", 0, {kCard, 1, 1}, kWithWriteParameter,
     ModelGroup::CardInformation, card(key::kVendor, fallback::kVendor, 12),
     [](RunOptions& o, R c) { o.card.manufacturer = c.text; }, EditRule::UpperCase, 9},
    {id::kProduct, K::Edit, "", 0, {kCard, 1, 3, 3}, kWithWriteParameter,
     ModelGroup::CardInformation, card(key::kProduct, fallback::kProduct, 23),
     [](RunOptions& o, R c) { o.card.product = c.text; }, EditRule::UpperCase, 19},
    {id::kSerial, K::Edit, "", 0, {kCard, 2, 1}, kWithWriteParameter, ModelGroup::CardInformation,
     card(key::kSerialNum, fallback::kSerialNum, run::kSerialDigits, Allowed::Digits),
     [](RunOptions& o, R c) { o.serialStart = run::paddedSerial(c.text); }, EditRule::Digits,
     run::kSerialDigits},
    {id::kIncrease, K::CheckBox, "Increase", 0, {kCard, 2, 2}, kWithWriteParameter,
     ModelGroup::CardInformation, check(section::kCardInfor, key::kIncrease),
     [](RunOptions& o, R c) { o.increaseSerial = c.checked; }},
    {id::kDiskVendor, K::Edit, "", 0, {kCard, 3, 2}, kWithWriteParameter,
     ModelGroup::CardInformation, card(key::kDiskVendor, fallback::kDiskVendor, 8),
     [](RunOptions& o, R c) { o.card.diskVendor = c.text; }, EditRule::Any, 8},
    {id::kDiskProduct, K::Edit, "", 0, {kCard, 3, 4, 2}, kWithWriteParameter,
     ModelGroup::CardInformation, card(key::kDiskProduct, fallback::kDiskProduct, 16),
     [](RunOptions& o, R c) { o.card.diskProduct = c.text; }, EditRule::Any, 16},
    {id::kCdromVendor, K::Edit, "", 0, {kCard, 4, 2}, kWithWriteParameter,
     ModelGroup::CdromInquiry, card(key::kCdromVendor, fallback::kCdromVendor, 8),
     [](RunOptions& o, R c) { o.card.cdromVendor = c.text; }, EditRule::Any, 8},
    {id::kCdromProduct, K::Edit, "", 0, {kCard, 4, 4, 2}, kWithWriteParameter,
     ModelGroup::CdromInquiry, card(key::kCdromProduct, fallback::kCdromProduct, 16),
     [](RunOptions& o, R c) { o.card.cdromProduct = c.text; }, EditRule::Any, 16},
    {id::kMaxPower, K::Edit, "", 0, {kCard, 1, 7, 1, 40}, kWithWriteParameter,
     ModelGroup::LedAndPower,
     {section::kCardInfor, key::kMaxPower, Stored::Number, {}, fallback::kMaxPower,
      kLargestMaxPower},
     [](RunOptions& o, R c) {
       o.card.maxPowerGiven = !c.text.empty();
       o.card.maxPowerValue = editNumber(c.text);
     },
     EditRule::Digits, 3},
    {id::kLedSpeed, K::DropDown, "", 0, {kCard, 0, 7, 2}, kWithWriteParameter,
     ModelGroup::LedAndPower,
     {section::kCardInfor, key::kLedSpeed, Stored::Row, {}, fallback::kLedSpeed, kLastLedRow},
     [](RunOptions& o, R c) { o.card.ledSpeedRow = c.selectedRow; }},
    {id::kResetToDefault, K::CheckBox, "Reset to Default Value", 5034, {kGeneral, 3, 1, 2}, kRun,
     ModelGroup::ResetToDefault, {}, [](RunOptions& o, R c) { o.resetToDefault = c.checked; }},

    {id::kAutoStart, K::PushButton, "Auto Start", 5002, {kTop, 0, 2}, kRun},
    {id::kAutoStop, K::PushButton, "Auto Stop", 5003, {kTop, 0, 3}},
    {id::kLoadIni, K::PushButton, "Load .ini File", 5004, {kTop, 0, 4}, kRunAndReset},
    {id::kSaveIni, K::PushButton, "Save .ini File", 5005, {kTop, 0, 5}, kRunAndReset},
    {id::kIcLabel, K::Label, "IC :", 5006, {kTop, 0, 6}},
    {id::kSettingsPath, K::Edit, "", 0, {kTop, 0, 8, 1, 0, true}, kRunAndReset, ModelGroup::Always,
     {}, nullptr, EditRule::Any, 0, true},
    {id::kLanguageLabel, K::Label, "Language:", 5035, {kTop, 0, 9}, kRun},
    {id::kLogo, K::Picture, "", 0, {kTop, 0, 11}},
    {id::kGeneralTestGroup, K::GroupBox, "General Test", 5007, {}},
    {id::kDiskLabelLabel, K::Label, "(Disk Label)", 5010, {kGeneral, 1, 1},
     lockedUnless(id::kFormat)},
    {id::kCardInfoGroup, K::GroupBox, "Card Information  (Hex)", 5013, {}, kRunAndReset,
     ModelGroup::CardInformation},
    {id::kVidLabel, K::Label, "VID :", 5015, {kCard, 0, 2}, kWithWriteParameter,
     ModelGroup::CardInformation},
    {id::kPidLabel, K::Label, "PID :", 5016, {kCard, 0, 4}, kWithWriteParameter,
     ModelGroup::CardInformation},
    {id::kManufacturerLabel, K::Label, "Manufacture :", 5017, {kCard, 1, 0}, kWithWriteParameter,
     ModelGroup::CardInformation},
    {id::kProductLabel, K::Label, "Product :", 5018, {kCard, 1, 2}, kWithWriteParameter,
     ModelGroup::CardInformation},
    {id::kSerialLabel, K::Label, "Serial :", 5019, {kCard, 2, 0}, kWithWriteParameter,
     ModelGroup::CardInformation},
    {id::kDiskInquiryLabel, K::Label, "Disk Inquiry Data :", 5020, {kCard, 3, 0},
     kWithWriteParameter, ModelGroup::CardInformation},
    {id::kDiskVendorLabel, K::Label, "Vendor :", 5021, {kCard, 3, 1}, kWithWriteParameter,
     ModelGroup::CardInformation},
    {id::kDiskProductLabel, K::Label, "Product :", 5022, {kCard, 3, 3}, kWithWriteParameter,
     ModelGroup::CardInformation},
    {id::kCdromInquiryLabel, K::Label, "CD-ROM Inquiry Data :", 5023, {kCard, 4, 0},
     kWithWriteParameter, ModelGroup::CdromInquiry},
    {id::kCdromVendorLabel, K::Label, "Vendor :", 5024, {kCard, 4, 1}, kWithWriteParameter,
     ModelGroup::CdromInquiry},
    {id::kCdromProductLabel, K::Label, "Product :", 5025, {kCard, 4, 3}, kWithWriteParameter,
     ModelGroup::CdromInquiry},
    {id::kLedSpeedLabel, K::Label, "LED Speed:", 5026, {kCard, 0, 6}, kWithWriteParameter,
     ModelGroup::LedAndPower},
    {id::kMaxPowerLabel, K::Label, "Max Power :", 5027, {kCard, 1, 6}, kWithWriteParameter,
     ModelGroup::LedAndPower},
    {id::kPowerMa, K::Label, "(mA)", 0, {kCard, 1, 8}, kWithWriteParameter,
     ModelGroup::LedAndPower},
    {id::kBinaryGroup, K::GroupBox, "Binary File", 5028, {}, {}, ModelGroup::BinaryImage},
    {id::kLoadBinary, K::PushButton, "Load Binary File", 5030, {kBinary, 0, 1},
     lockedUnless(id::kBinaryFile), ModelGroup::BinaryImage},
    {id::kCdromGroup, K::GroupBox, "CD-ROM", 5031, {}, {}, ModelGroup::CdromImage},
    {id::kLoadIso, K::PushButton, "Load ISO File", 5033, {kCdrom, 0, 1},
     lockedUnless(id::kCdromIso), ModelGroup::CdromImage},
};

} // namespace

std::span<const OptionSpec> optionTable() { return kOptions; }

int areaFrame(Area area) {
  switch (area) {
  case Area::GeneralTest: return id::kGeneralTestGroup;
  case Area::CardInformation: return id::kCardInfoGroup;
  case Area::BinaryImage: return id::kBinaryGroup;
  case Area::CdromImage: return id::kCdromGroup;
  case Area::None:
  case Area::TopBar: break;
  }
  return 0;
}

int editNumber(const std::string& text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return 0;
  int value = 0;
  std::from_chars(text.data() + start, text.data() + text.size(), value);
  return value;
}

} // namespace tarvix::app
