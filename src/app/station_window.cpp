#include "app/station_window.h"

#include "app/control_table.h"
#include "app/copy_dialog.h"
#include "station/control_ids.h"
#include "station/models.h"
#include "text/language.h"
#include "text/texts.h"

#include <cctype>

namespace tarvix::app {
namespace {

constexpr int kLanguageRows[] = {text::kLanguageEnglish, text::kLanguageSimplified,
                                 text::kLanguageTraditional};

// Cuts `s` after `limit` UTF-8 characters.
std::string cutToCharacters(const std::string& s, int limit) {
  int characters = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool startsCharacter = (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
    if (startsCharacter && characters++ == limit) return s.substr(0, i);
  }
  return s;
}

std::string applyRule(const std::string& typed, EditRule rule) {
  std::string out;
  for (char c : typed) {
    const auto u = static_cast<unsigned char>(c);
    switch (rule) {
    case EditRule::Digits:
      if (std::isdigit(u)) out += c;
      break;
    case EditRule::UpperCase: out += static_cast<char>(u < 0x80 ? std::toupper(u) : u); break;
    case EditRule::HexDigits:
      // A VID or PID: "3C7O" must not pass as 03C7.
      if (std::isxdigit(u)) out += static_cast<char>(std::toupper(u));
      break;
    case EditRule::Any: out += c; break;
    }
  }
  return out;
}

} // namespace

StationWindow::StationWindow(platform::Platform& platform, ui::WindowHost& host)
    : platform_(platform), host_(host), controls_(host, initialControls()) {}

StationWindow::~StationWindow() {
  // No device event may reach a window that is gone: stop them, then let queued ones run out
  // once no poll can start another port and every worker is joined.
  platform_.drives.setEventListener({});
  run_.stop();
  if (!host_.onWindowThread()) host_.runAndWait([] {});
}

std::string StationWindow::caption() const { return std::string(kWindowCaption); }

// --- Life cycle -----------------------------------------------------------------------------

void StationWindow::initialise() {
  loadStation();
  startScanning();
}

void StationWindow::loadStation() {
  // The About item exists only when its text does.
  if (auto about = text::lookup(text::kAboutItem); about && !about->empty()) {
    aboutMenuText_ = std::string(*about);
  }
  for (int row : kLanguageRows)
    controls_.addRow(id::kLanguage, std::string(*text::lookup(row)));
  platform_.system.applySystemAdjustments();
  readers_.hubTable = {};
  for (int hub = 1; hub <= station::kHubCount; ++hub)
    controls_.show(station::hubBoxId(hub), false);
  for (int port = 1; port <= station::kPortCount; ++port) {
    controls_.setFont(station::portBoxId(port), station::FontChoice::ArialBlack10);
  }
  readers_.driveMaskCurrent = platform_.drives.logicalDriveMask();
  readers_.driveMaskPrevious = readers_.driveMaskCurrent;
  clearReaders();
  loadDefaultSettings();
}

void StationWindow::startScanning() {
  applySavedMappingChoice();
  controls_.enable(id::kAutoStop, false);
  platform_.drives.setEventListener(
      [this](platform::DeviceEvent event) { host_.post([this, event] { onDeviceEvent(event); }); });
}

void StationWindow::close() {
  run_.production().closing = true;
  run_.waitForWorkers();
  settings_.saveToStationFile();
}

void StationWindow::loadDefaultSettings() {
  settings_.useStationFile();
  loadSettings();
}

void StationWindow::loadSettings() {
  const int language = settings_.load();
  onMaxPowerEdited();
  applyStoredLanguage(language);
}

void StationWindow::onLoadSettingsClicked() {
  if (!settings_.chooseFileToLoad()) return;
  loadSettings();
  // The window ends as a start-up with this file would leave it: the mapping mode's scan and the
  // model's groups, limits and probe.
  applySavedMappingChoice();
  controls_.messageBox(std::string(*text::lookup(text::kSettingsLoaded)));
}

void StationWindow::clearReaders() {
  for (auto& letter : readers_.slotDriveLetter)
    letter = 0;
  for (auto& colour : readers_.slotColour)
    colour = station::SlotColour::Idle;
  for (auto& port : readers_.ports)
    port.clear();
}

// --- Operator input -------------------------------------------------------------------------

void StationWindow::onClicked(int id) {
  if (control(id).kind == ControlKind::CheckBox) controls_.setChecked(id, !control(id).checked);
  switch (id) {
  case id::kReadWriteTest:
  case id::kLlf:
  case id::kFormat:
  case id::kWriteParameter:
  case id::kBinaryFile:
  case id::kCdromIso: return applyOptionStates(controls_, OptionMoment::OptionChanged);
  case id::kLoadIso: return chooseImage(true);
  case id::kLoadBinary: return chooseImage(false);
  case id::kResetToDefault: return onResetToDefaultClicked();
  case id::kCopyFile: return onCopyFileClicked();
  case id::kAutoStart: return run_.onAutoStart();
  case id::kAutoStop: return controls_.enable(id::kAutoStop, false);
  case id::kLoadIni: return onLoadSettingsClicked();
  case id::kSaveIni: return settings_.onSaveClicked();
  case id::kHubMap: return chooseMapping(true);
  case id::kNoHubMap: return chooseMapping(false);
  default: return;
  }
}

void StationWindow::onCopyFileClicked() {
  if (!controls_.checked(id::kCopyFile)) return;
  CopyDialog dialog(host_, copyList_, languageOffset_);
  // With no row chosen there is nothing to copy, so the step goes off again.
  if (!dialog.run()) controls_.setChecked(id::kCopyFile, false);
}

void StationWindow::onTextEdited(int id, const std::string& typed) {
  const ControlRecord& r = control(id);
  if (r.kind != ControlKind::Edit || r.readOnly) return;
  std::string accepted = applyRule(typed, r.rule);
  if (r.textLimit > 0) accepted = cutToCharacters(accepted, r.textLimit);
  controls_.setText(id, accepted);
  if (id == id::kMaxPower) onMaxPowerEdited();
}

void StationWindow::onRowSelected(int id, int row) {
  controls_.setSelectedRow(id, row);
  if (id == id::kLanguage) onLanguageSelected();
  if (id == id::kIcType) onModelSelected();
}

void StationWindow::onSystemCommand(int command) {
  if ((command & ~0xF) == id::kAboutCommand) host_.showAbout();
}

// --- Language -------------------------------------------------------------------------------

std::optional<std::string> StationWindow::localText(int englishId) const {
  auto found = text::lookup(text::localizedId(englishId, languageOffset_));
  if (!found) return std::nullopt;
  return std::string(*found);
}

void StationWindow::detectSystemLanguage() {
  languageOffset_ = text::languageOffsetForLocale(platform_.system.systemLocale());
}

void StationWindow::applyLanguage() {
  if (languageChosen_ == 0) detectSystemLanguage();
  for (int id : controlIds()) {
    const int textId = control(id).textId;
    if (textId == 0) continue; // a fixed text
    if (auto label = localText(textId)) controls_.setText(id, *label);
  }
  relabelWriteParameter();
}

void StationWindow::relabelWriteParameter() {
  const station::ModelTraits* model = station::modelTraits(controls_.selectedRow(id::kIcType));
  const int textId = model != nullptr && model->eeprom ? text::kWriteParameterToEeprom
                                                       : text::kWriteParameterToCard;
  if (auto label = localText(textId)) controls_.setText(id::kWriteParameter, *label);
}

void StationWindow::onLanguageSelected() {
  const int row = controls_.selectedRow(id::kLanguage);
  languageChosen_ = row + 1;
  languageOffset_ = text::languageOffsetForRow(row);
  applyLanguage();
}

void StationWindow::applyStoredLanguage(int nLan) {
  languageChosen_ = nLan;
  controls_.setSelectedRow(id::kLanguage, nLan - 1);
  if (nLan != 0) languageOffset_ = text::languageOffsetForNumber(nLan);
  applyLanguage();
}

} // namespace tarvix::app
