#include "app/settings_binding.h"

#include "app/option_locks.h"
#include "app/option_table.h"
#include "settings/settings_keys.h"
#include "settings/station_file.h"
#include "settings/value_rules.h"
#include "station/control_ids.h"
#include "text/texts.h"

#include <optional>

namespace tarvix::app {
namespace {

namespace key = settings::key;
using settings::ProfileFile;
namespace section = settings::section;

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

std::string storedText(const ProfileFile& profile, platform::TraceSink& trace, const Setting& t) {
  std::string value = profile.text(t.section, t.key, t.fallbackText);
  if (settings::characterCount(value) <= t.high && allows(t.allowed, value)) return value;
  traceRefused(trace, t.key, value);
  return std::string(t.fallbackText);
}

// A stored number outside the rows or digits its control offers takes the default.
int storedNumber(const ProfileFile& profile, platform::TraceSink& trace, const Setting& t) {
  if (!profile.has(t.section, t.key)) return t.fallbackNumber;
  std::string value = profile.text(t.section, t.key, "");
  value.erase(0, value.find_first_not_of(' '));
  if (const auto n = settings::numberIn(value, 0, t.high)) return *n;
  traceRefused(trace, t.key, value);
  return t.fallbackNumber;
}

std::string message(int id) { return std::string(*text::lookup(id)); }

} // namespace

LineSetting lineSetting(const std::filesystem::path& file, const std::string& hostName) {
  ProfileFile profile;
  std::string ignored;
  if (settings::readable(file)) profile.load(file, ignored);
  LineSetting line;
  if (profile.has(section::kLine, key::kConnection))
    line.connection = profile.text(section::kLine, key::kConnection, "");
  line.series = profile.text(section::kLine, key::kSeries, settings::kDefaultSeries);
  line.station = profile.text(section::kLine, key::kStation, hostName);
  return line;
}

SettingsBinding::SettingsBinding(platform::Platform& platform, ui::WindowHost& host,
                                 ControlModel& controls, run::SerialCounter& serials,
                                 settings::CopyList& copyList)
    : platform_(platform), host_(host), controls_(controls), serials_(serials),
      copyList_(copyList) {}

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
  copyList_.load(profile);
  return language;
}

int SettingsBinding::applySettings(const ProfileFile& profile) {
  platform::TraceSink& trace = platform_.trace;
  const Setting* language = nullptr;
  for (const OptionSpec& spec : optionTable()) {
    const Setting& t = spec.setting;
    switch (t.kind) {
    case Stored::None:
    case Stored::MappingCheck: break;
    case Stored::Check:
      controls_.setChecked(spec.id, profile.integer(t.section, t.key, 0) != 0);
      break;
    case Stored::Row: controls_.setSelectedRow(spec.id, storedNumber(profile, trace, t)); break;
    case Stored::Text: controls_.setText(spec.id, storedText(profile, trace, t)); break;
    case Stored::Path: {
      // An image that is gone is dropped rather than carried into a run.
      const std::string stored = profile.text(t.section, t.key, "");
      controls_.setText(spec.id, settings::readable(stored) ? stored : std::string());
      break;
    }
    case Stored::Number:
      controls_.setText(spec.id, std::to_string(storedNumber(profile, trace, t)));
      break;
    case Stored::Language: language = &t; break; // read last, as the window applies it last
    }
  }
  // A file that picks no mapping mode leaves the one in force: unchecking both boxes would leave
  // them disabled and every plug and pull ignored.
  const bool noHub = profile.integer(section::kHubPortMap, key::kCheckNoHub, 0) != 0;
  const bool hub = profile.integer(section::kHubPortMap, key::kCheckHub, 0) != 0;
  if (noHub || hub) {
    controls_.setChecked(id::kNoHubMap, noHub);
    controls_.setChecked(id::kHubMap, !noHub);
  }
  applyOptionStates(controls_, OptionMoment::OptionChanged);
  // The station's file (none yet, at a first start) holds the serial number counter; a number
  // loaded from another file is the operator's, as if typed, and becomes the counter at Auto Start.
  if (settingsPath.empty() || settingsPath == stationSettingsPath)
    serials_.startFrom(controls_.text(id::kSerial));
  return language != nullptr ? storedNumber(profile, trace, *language) : 0;
}

bool SettingsBinding::save() {
  // The station's file holds the counter other stations on this computer take from: it is read
  // and written under their lock, and keeps their advance unless the operator typed a number.
  const bool counterFile = settingsPath == stationSettingsPath;
  std::optional<settings::SerialCounterLock> counter;
  if (counterFile) counter.emplace(settingsPath);
  ProfileFile profile;
  std::string ignored;
  // Keys of other tools in the same file stay where they are.
  if (settings::readable(settingsPath)) profile.load(settingsPath, ignored);
  const bool keepCounter = counterFile && !serials_.typed(controls_.text(id::kSerial)) &&
                           profile.has(section::kCardInfor, key::kSerialNum);
  const std::string counterValue = profile.text(section::kCardInfor, key::kSerialNum, "");
  for (const OptionSpec& spec : optionTable()) {
    const Setting& t = spec.setting;
    switch (t.kind) {
    case Stored::None: break;
    case Stored::Check:
    case Stored::MappingCheck:
      profile.setCheck(t.section, t.key, controls_.checked(spec.id));
      break;
    case Stored::Row: profile.setInteger(t.section, t.key, controls_.selectedRow(spec.id)); break;
    case Stored::Text:
    case Stored::Path: profile.setText(t.section, t.key, controls_.text(spec.id)); break;
    case Stored::Number: profile.setInteger(t.section, t.key, controls_.number(spec.id)); break;
    case Stored::Language:
      profile.setInteger(t.section, t.key, controls_.selectedRow(spec.id) + 1);
      break;
    }
  }
  if (keepCounter) profile.setText(section::kCardInfor, key::kSerialNum, counterValue);
  copyList_.save(profile);
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
    stationSettingsPath =
        settings::stationSettingsPath(platform_.system.executablePath().parent_path(),
                                      settings::stationWideFolder(), settings::userConfigFolder());
  }
  serials_.keepIn(stationSettingsPath);
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
