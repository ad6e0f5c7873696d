#include "app/settings_binding.h"

#include "app/option_locks.h"
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

SettingsBinding::SettingsBinding(platform::Platform& platform, ui::WindowHost& host,
                                 ControlModel& controls, station::StationState& state,
                                 RunInputs& inputs)
    : platform_(platform), host_(host), controls_(controls), state_(state), inputs_(inputs) {}

void SettingsBinding::resolveSettingsPath() {
  const auto fallbackPath = stationSettingsPath;
  if (!settingsPath.empty()) {
    if (!settings::readable(settingsPath)) settingsPath = fallbackPath;
    return;
  }
  if (settings::readable(fallbackPath)) settingsPath = fallbackPath;
  controls_.setText(id::kSettingsPath, settingsPath.string());
}

int SettingsBinding::load() {
  resolveSettingsPath();
  ProfileFile profile;
  std::string error;
  if (!settingsPath.empty() && !profile.load(settingsPath, error)) {
    platform_.trace.line("settings: " + error);
  }
  // A damaged line costs its own key only; every other setting is read.
  for (const std::string& skipped : profile.skippedLines())
    platform_.trace.line("settings: " + skipped);
  const int language = applySettings(profile);
  inputs_.copyList.load(profile);
  return language;
}

int SettingsBinding::applySettings(const ProfileFile& profile) {
  platform::TraceSink& trace = platform_.trace;
  // A file that picks no mapping mode leaves the one in force: unchecking both boxes would leave
  // them disabled and every plug and pull ignored.
  const bool noHub = profile.integer(section::kHubPortMap, key::kCheckNoHub, 0) != 0;
  const bool hub = profile.integer(section::kHubPortMap, key::kCheckHub, 0) != 0;
  if (noHub || hub) {
    controls_.setChecked(id::kNoHubMap, noHub);
    controls_.setChecked(id::kHubMap, !noHub);
  }

  state_.icType = storedNumber(profile, trace, section::kTestItem, key::kIcType, 0, kLastModelRow);
  controls_.setSelectedRow(id::kIcType, state_.icType);
  state_.llfSelect =
      storedNumber(profile, trace, section::kTestItem, key::kLlfSelect, 0, kLastLlfRow);
  controls_.setSelectedRow(id::kLlfExtent, state_.llfSelect);
  for (const CheckKey& c : kTestItemChecks) {
    controls_.setChecked(c.control, profile.integer(c.section, c.key, 0) != 0);
  }
  controls_.setText(id::kDiskLabel, storedText(profile, trace, kLabel));
  controls_.setText(id::kReadWriteCount, storedText(profile, trace, kRwTestCount));

  // An image that is gone is dropped rather than carried into a run.
  auto imagePath = [&](std::string_view k) -> std::filesystem::path {
    const std::string stored = profile.text(section::kTestItem, k, "");
    return settings::readable(stored) ? std::filesystem::path(stored) : std::filesystem::path();
  };
  inputs_.isoPath = imagePath(key::kIsoFilePath);
  controls_.setText(id::kIsoPath, inputs_.isoPath.string());
  inputs_.binPath = imagePath(key::kBinFilePath);
  controls_.setText(id::kBinaryPath, inputs_.binPath.string());
  applyOptionStates(controls_, OptionMoment::OptionChanged);

  for (const TextKey& t : kCardInforTexts)
    controls_.setText(t.control, storedText(profile, trace, t));
  state_.serialText = controls_.text(id::kSerial);
  controls_.setChecked(id::kIncrease, profile.integer(section::kCardInfor, key::kIncrease, 0) != 0);
  for (const TextKey& t : kInquiryTexts)
    controls_.setText(t.control, storedText(profile, trace, t));
  state_.maxPowerValue = storedNumber(profile, trace, section::kCardInfor, key::kMaxPower,
                                      fallback::kMaxPower, kLargestMaxPower);
  controls_.setText(id::kMaxPower, std::to_string(state_.maxPowerValue));
  controls_.setSelectedRow(id::kLedSpeed,
                           storedNumber(profile, trace, section::kCardInfor, key::kLedSpeed,
                                        fallback::kLedSpeed, kLastLedRow));

  return storedNumber(profile, trace, section::kLanguage, key::kLan, 0, kLastLanguage);
}

bool SettingsBinding::save() {
  ProfileFile profile;
  std::string ignored;
  // Keys of other tools in the same file stay where they are.
  if (settings::readable(settingsPath)) profile.load(settingsPath, ignored);

  profile.setInteger(section::kLanguage, key::kLan, controls_.selectedRow(id::kLanguage) + 1);
  profile.setCheck(section::kHubPortMap, key::kCheckNoHub, controls_.checked(id::kNoHubMap));
  profile.setCheck(section::kHubPortMap, key::kCheckHub, controls_.checked(id::kHubMap));

  if (controls_.selectedRow(id::kIcType) >= 0) state_.icType = controls_.selectedRow(id::kIcType);
  profile.setInteger(section::kTestItem, key::kIcType, controls_.selectedRow(id::kIcType));
  profile.setCheck(section::kTestItem, key::kCheckLowFormat, controls_.checked(id::kLlf));
  if (controls_.selectedRow(id::kLlfExtent) >= 0)
    state_.llfSelect = controls_.selectedRow(id::kLlfExtent);
  profile.setInteger(section::kTestItem, key::kLlfSelect, controls_.selectedRow(id::kLlfExtent));
  for (const CheckKey& c :
       {kTestItemChecks[1], kTestItemChecks[2], kTestItemChecks[3], kTestItemChecks[5],
        kTestItemChecks[6], kTestItemChecks[4], kTestItemChecks[7]}) {
    profile.setCheck(c.section, c.key, controls_.checked(c.control));
  }
  profile.setText(section::kTestItem, key::kLabel, controls_.text(id::kDiskLabel));
  profile.setText(section::kTestItem, key::kRwTestCount, controls_.text(id::kReadWriteCount));
  profile.setText(section::kTestItem, key::kIsoFilePath, controls_.text(id::kIsoPath));
  profile.setText(section::kTestItem, key::kBinFilePath, controls_.text(id::kBinaryPath));

  for (const TextKey& t : kCardInforTexts) {
    profile.setText(section::kCardInfor, t.key, controls_.text(t.control));
  }
  profile.setCheck(section::kCardInfor, key::kIncrease, controls_.checked(id::kIncrease));
  for (const TextKey& t : kInquiryTexts) {
    profile.setText(section::kCardInfor, t.key, controls_.text(t.control));
  }
  profile.setInteger(section::kCardInfor, key::kMaxPower, state_.maxPowerValue);
  profile.setInteger(section::kCardInfor, key::kLedSpeed, controls_.selectedRow(id::kLedSpeed));

  inputs_.copyList.save(profile);
  return profile.save(settingsPath);
}

void SettingsBinding::saveToStationFile() {
  settingsPath = stationSettingsPath;
  // Closing the station must not lose its settings without a word.
  if (!save()) {
    const std::string why = settings::notSavedText(settingsPath);
    platform_.trace.line("settings: " + why);
    controls_.messageBox(why);
  }
}

void SettingsBinding::useStationFile() {
  if (stationSettingsPath.empty()) {
    stationSettingsPath = settings::stationSettingsPath(
        platform_.system.executablePath().parent_path(), settings::userConfigFolder());
  }
  state_.serialFile = stationSettingsPath;
}

ui::PathRequest SettingsBinding::settingsFileRequest(bool save) const {
  // The dialog offers the default name in the folder of the file in use; its title is the
  // button's own label.
  const auto folder = (settingsPath.empty() ? stationSettingsPath : settingsPath).parent_path();
  return {save ? ui::PathRequest::Kind::SaveFile : ui::PathRequest::Kind::OpenFile,
          controls_.control(save ? id::kSaveIni : id::kLoadIni).text, "INI File (*.ini)",
          folder / settings::kDefaultFileName};
}

bool SettingsBinding::chooseFileToLoad() {
  const auto chosen = host_.askPath(settingsFileRequest(false));
  if (!chosen) return false;
  // A file that cannot be read changes nothing and says so.
  if (!settings::readable(*chosen)) {
    controls_.messageBox(chosen->string() + ": cannot be read");
    return false;
  }
  settingsPath = *chosen;
  controls_.setText(id::kSettingsPath, settingsPath.string());
  return true;
}

void SettingsBinding::onSaveClicked() {
  auto chosen = host_.askPath(settingsFileRequest(true));
  if (!chosen) return;
  if (!chosen->has_extension()) chosen->replace_extension(".ini");
  settingsPath = *chosen;
  controls_.setText(id::kSettingsPath, settingsPath.string());
  if (!save()) {
    controls_.messageBox(settings::notSavedText(settingsPath));
    return;
  }
  controls_.messageBox(message(text::kSettingsSaved));
}

} // namespace tarvix::app
