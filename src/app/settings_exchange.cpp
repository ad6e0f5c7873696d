// The settings file against the window: which file is read, what every key sets at load, what is
// written back at save, and the Load/Save buttons.
#include "app/station_window.h"
#include "run/card_parameters.h"
#include "settings/settings_keys.h"
#include "settings/station_file.h"
#include "settings/value_rules.h"
#include "station/control_ids.h"
#include "text/texts.h"

namespace tarvix::app {
namespace {

namespace key = settings::key;
namespace fallback = settings::fallback;
using settings::ProfileFile;
namespace section = settings::section;

struct CheckKey {
  std::string_view section;
  std::string_view key;
  int control;
};

// Check boxes loaded in this order (the two mapping boxes are handled first, together).
constexpr CheckKey kTestItemChecks[] = {
    {section::kTestItem, key::kCheckLowFormat, id::kLlf},
    {section::kTestItem, key::kCheckFormat, id::kFormat},
    {section::kTestItem, key::kCheckRwTest, id::kReadWriteTest},
    {section::kTestItem, key::kCheckCardInfor, id::kWriteParameter},
    {section::kTestItem, key::kCheckCopyFile, id::kCopyFile},
    {section::kTestItem, key::kCheckAutorun, id::kCdromIso},
    {section::kTestItem, key::kCheckBinFile, id::kBinaryFile},
    {section::kTestItem, key::kCheckCapacity, id::kCapacityCheck},
};

// The last rows of the combos the numbers select, and the largest number edit 1217 holds.
constexpr int kLastModelRow = 8;
constexpr int kLastLlfRow = 3;
constexpr int kLastLedRow = 3;
constexpr int kLastLanguage = 3;
constexpr int kLargestMaxPower = 999;

// What the edit showing a stored text lets through: a value it would refuse is not shown.
enum class Allowed { Any, Digits, HexDigits, FatLabel };

struct TextKey {
  std::string_view section;
  std::string_view key;
  std::string_view fallback;
  int control;
  int maxCharacters;
  Allowed allowed;
};

constexpr TextKey kLabel{section::kTestItem, key::kLabel, fallback::kLabel,
                         id::kDiskLabel,     11,          Allowed::FatLabel};
constexpr TextKey kRwTestCount{section::kTestItem,  key::kRwTestCount,     fallback::kRwTestCount,
                               id::kReadWriteCount, kReadWriteCountDigits, Allowed::Digits};
// Manufacturer and product may be as long as the EEPROM model's edits allow.
constexpr TextKey kCardInforTexts[] = {
    {section::kCardInfor, key::kVid, fallback::kVid, id::kVid, 4, Allowed::HexDigits},
    {section::kCardInfor, key::kPid, fallback::kPid, id::kPid, 4, Allowed::HexDigits},
    {section::kCardInfor, key::kVendor, fallback::kVendor, id::kManufacturer, 12, Allowed::Any},
    {section::kCardInfor, key::kProduct, fallback::kProduct, id::kProduct, 23, Allowed::Any},
    {section::kCardInfor, key::kSerialNum, fallback::kSerialNum, id::kSerial, 12, Allowed::Digits},
};
constexpr TextKey kInquiryTexts[] = {
    {section::kCardInfor, key::kDiskVendor, fallback::kDiskVendor, id::kDiskVendor, 8,
     Allowed::Any},
    {section::kCardInfor, key::kDiskProduct, fallback::kDiskProduct, id::kDiskProduct, 16,
     Allowed::Any},
    {section::kCardInfor, key::kCdromVendor, fallback::kCdromVendor, id::kCdromVendor, 8,
     Allowed::Any},
    {section::kCardInfor, key::kCdromProduct, fallback::kCdromProduct, id::kCdromProduct, 16,
     Allowed::Any},
};

void traceRefused(platform::TraceSink& trace, std::string_view key, const std::string& value) {
  trace.line("settings: " + std::string(key) + "=" + value + " is not allowed, default used");
}

bool allows(Allowed allowed, const std::string& value) {
  switch (allowed) {
  case Allowed::Any: return true;
  case Allowed::Digits: return settings::decimalDigits(value);
  case Allowed::HexDigits: return settings::hexDigits(value);
  case Allowed::FatLabel: return settings::fatLabel(value);
  }
  return false;
}

std::string storedText(const ProfileFile& profile, platform::TraceSink& trace, const TextKey& t) {
  std::string value = profile.text(t.section, t.key, t.fallback);
  if (settings::characterCount(value) <= t.maxCharacters && allows(t.allowed, value)) return value;
  traceRefused(trace, t.key, value);
  return ProfileFile{}.text(t.section, t.key, t.fallback);
}

// A stored number outside the rows or digits its control offers takes the default.
int storedNumber(const ProfileFile& profile, platform::TraceSink& trace,
                 std::string_view sectionName, std::string_view k, int fallbackValue, int high) {
  if (!profile.has(sectionName, k)) return fallbackValue;
  std::string value = profile.text(sectionName, k, "");
  value.erase(0, value.find_first_not_of(' '));
  if (const auto n = settings::numberIn(value, 0, high)) return *n;
  traceRefused(trace, k, value);
  return fallbackValue;
}

std::string message(int id) { return std::string(*text::lookup(id)); }

} // namespace

void StationWindow::resolveSettingsPath() {
  const auto fallbackPath = stationSettingsPath;
  if (!settingsPath.empty()) {
    if (!settings::readable(settingsPath)) settingsPath = fallbackPath;
    return;
  }
  if (settings::readable(fallbackPath)) settingsPath = fallbackPath;
  setText(id::kSettingsPath, settingsPath.string());
}

void StationWindow::loadSettings() {
  resolveSettingsPath();
  ProfileFile profile;
  std::string error;
  if (!settingsPath.empty() && !profile.load(settingsPath, error)) {
    platform_.trace.line("settings: " + error);
  }
  // A damaged line costs its own key only; every other setting is read.
  for (const std::string& skipped : profile.skippedLines())
    platform_.trace.line("settings: " + skipped);
  applySettings(profile);
  copyList.load(profile);
}

void StationWindow::applySettings(const ProfileFile& profile) {
  platform::TraceSink& trace = platform_.trace;
  // A file that picks no mapping mode leaves the one in force: unchecking both boxes would leave
  // them disabled and every plug and pull ignored.
  const bool noHub = profile.integer(section::kHubPortMap, key::kCheckNoHub, 0) != 0;
  const bool hub = profile.integer(section::kHubPortMap, key::kCheckHub, 0) != 0;
  if (noHub || hub) {
    setChecked(id::kNoHubMap, noHub);
    setChecked(id::kHubMap, !noHub);
  }

  icType = storedNumber(profile, trace, section::kTestItem, key::kIcType, 0, kLastModelRow);
  setSelectedRow(id::kIcType, icType);
  llfSelect = storedNumber(profile, trace, section::kTestItem, key::kLlfSelect, 0, kLastLlfRow);
  setSelectedRow(id::kLlfExtent, llfSelect);
  for (const CheckKey& c : kTestItemChecks) {
    setChecked(c.control, profile.integer(c.section, c.key, 0) != 0);
  }
  setText(id::kDiskLabel, storedText(profile, trace, kLabel));
  setText(id::kReadWriteCount, storedText(profile, trace, kRwTestCount));

  // An image that is gone is dropped rather than carried into a run.
  auto imagePath = [&](std::string_view k) -> std::filesystem::path {
    const std::string stored = profile.text(section::kTestItem, k, "");
    return settings::readable(stored) ? std::filesystem::path(stored) : std::filesystem::path();
  };
  isoPath = imagePath(key::kIsoFilePath);
  setText(id::kIsoPath, isoPath.string());
  binPath = imagePath(key::kBinFilePath);
  setText(id::kBinaryPath, binPath.string());
  applyOptionStates(OptionMoment::OptionChanged);

  for (const TextKey& t : kCardInforTexts)
    setText(t.control, storedText(profile, trace, t));
  serialText = text(id::kSerial);
  setChecked(id::kIncrease, profile.integer(section::kCardInfor, key::kIncrease, 0) != 0);
  for (const TextKey& t : kInquiryTexts)
    setText(t.control, storedText(profile, trace, t));
  maxPowerValue = storedNumber(profile, trace, section::kCardInfor, key::kMaxPower,
                               fallback::kMaxPower, kLargestMaxPower);
  setText(id::kMaxPower, std::to_string(maxPowerValue));
  onMaxPowerEdited();
  setSelectedRow(id::kLedSpeed, storedNumber(profile, trace, section::kCardInfor, key::kLedSpeed,
                                             fallback::kLedSpeed, kLastLedRow));

  applyStoredLanguage(
      storedNumber(profile, trace, section::kLanguage, key::kLan, 0, kLastLanguage));
}

bool StationWindow::cardTextsWritable() {
  // The label edit takes any character; FAT does not, and fsck.fat would call the volume damaged.
  const std::string label = text(id::kDiskLabel);
  if (checked(id::kFormat) && !settings::fatLabel(label)) {
    messageBox("Disk Label \"" + label +
               "\": a FAT volume label cannot hold it, so no run starts.");
    return false;
  }
  // Past twelve digits a serial number would be cut into one already handed out.
  const std::string serial = text(id::kSerial);
  if (checked(id::kWriteParameter) &&
      (serial.size() > run::kSerialMinimumDigits || !settings::decimalDigits(serial))) {
    messageBox("Serial Number \"" + serial +
               "\": the card information holds twelve digits at most, so no run starts.");
    return false;
  }
  return true;
}

bool StationWindow::saveSettings() {
  ProfileFile profile;
  std::string ignored;
  // Keys of other tools in the same file stay where they are.
  if (settings::readable(settingsPath)) profile.load(settingsPath, ignored);

  profile.setInteger(section::kLanguage, key::kLan, selectedRow(id::kLanguage) + 1);
  profile.setCheck(section::kHubPortMap, key::kCheckNoHub, checked(id::kNoHubMap));
  profile.setCheck(section::kHubPortMap, key::kCheckHub, checked(id::kHubMap));

  if (selectedRow(id::kIcType) >= 0) icType = selectedRow(id::kIcType);
  profile.setInteger(section::kTestItem, key::kIcType, selectedRow(id::kIcType));
  profile.setCheck(section::kTestItem, key::kCheckLowFormat, checked(id::kLlf));
  if (selectedRow(id::kLlfExtent) >= 0) llfSelect = selectedRow(id::kLlfExtent);
  profile.setInteger(section::kTestItem, key::kLlfSelect, selectedRow(id::kLlfExtent));
  for (const CheckKey& c :
       {kTestItemChecks[1], kTestItemChecks[2], kTestItemChecks[3], kTestItemChecks[5],
        kTestItemChecks[6], kTestItemChecks[4], kTestItemChecks[7]}) {
    profile.setCheck(c.section, c.key, checked(c.control));
  }
  profile.setText(section::kTestItem, key::kLabel, text(id::kDiskLabel));
  profile.setText(section::kTestItem, key::kRwTestCount, text(id::kReadWriteCount));
  profile.setText(section::kTestItem, key::kIsoFilePath, text(id::kIsoPath));
  profile.setText(section::kTestItem, key::kBinFilePath, text(id::kBinaryPath));

  for (const TextKey& t : kCardInforTexts) {
    profile.setText(section::kCardInfor, t.key, text(t.control));
  }
  profile.setCheck(section::kCardInfor, key::kIncrease, checked(id::kIncrease));
  for (const TextKey& t : kInquiryTexts) {
    profile.setText(section::kCardInfor, t.key, text(t.control));
  }
  profile.setInteger(section::kCardInfor, key::kMaxPower, maxPowerValue);
  profile.setInteger(section::kCardInfor, key::kLedSpeed, selectedRow(id::kLedSpeed));

  copyList.save(profile);
  return profile.save(settingsPath);
}

void StationWindow::loadDefaultSettings() {
  if (stationSettingsPath.empty()) {
    stationSettingsPath = settings::stationSettingsPath(
        platform_.system.executablePath().parent_path(), settings::userConfigFolder());
  }
  serialFile = stationSettingsPath;
  loadSettings();
}

ui::PathRequest StationWindow::settingsFileRequest(bool save) const {
  // The dialog offers the default name in the folder of the file in use; its title is the
  // button's own label.
  const auto folder = (settingsPath.empty() ? stationSettingsPath : settingsPath).parent_path();
  return {save ? ui::PathRequest::Kind::SaveFile : ui::PathRequest::Kind::OpenFile,
          record(save ? id::kSaveIni : id::kLoadIni).text, "INI File (*.ini)",
          folder / settings::kDefaultFileName};
}

void StationWindow::onLoadSettingsClicked() {
  const auto chosen = host_.askPath(settingsFileRequest(false));
  if (!chosen) return;
  // A file that cannot be read changes nothing and says so.
  if (!settings::readable(*chosen)) {
    messageBox(chosen->string() + ": cannot be read");
    return;
  }
  settingsPath = *chosen;
  setText(id::kSettingsPath, settingsPath.string());
  loadSettings();
  // The window ends as a start-up with this file would leave it: the mapping mode's scan and the
  // model's groups, limits and probe.
  applySavedMappingChoice();
  messageBox(message(text::kSettingsLoaded));
}

void StationWindow::onSaveSettingsClicked() {
  auto chosen = host_.askPath(settingsFileRequest(true));
  if (!chosen) return;
  if (!chosen->has_extension()) chosen->replace_extension(".ini");
  settingsPath = *chosen;
  setText(id::kSettingsPath, settingsPath.string());
  if (!saveSettings()) {
    messageBox(settingsPath.string() + ": cannot be written");
    return;
  }
  messageBox(message(text::kSettingsSaved));
}

} // namespace tarvix::app
