#include "app/station_window.h"

#include "app/control_table.h"
#include "app/copy_dialog.h"
#include "station/control_ids.h"
#include "text/language.h"
#include "text/texts.h"

#include <cctype>

namespace tarvix::app {
namespace {

// Edit text limits, set once the window exists.
constexpr std::pair<int, int> kTextLimits[] = {
    {id::kVid, 4},         {id::kPid, 4},          {id::kManufacturer, 9},
    {id::kProduct, 19},    {id::kSerial, 12},      {id::kDiskVendor, 8},
    {id::kCdromVendor, 8}, {id::kDiskProduct, 16}, {id::kCdromProduct, 16},
    {id::kMaxPower, 3},    {id::kDiskLabel, 11},   {id::kReadWriteCount, kReadWriteCountDigits},
};

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

// --- Control operations ---------------------------------------------------------------------

void StationWindow::setText(int id, const std::string& text) { controls_.setText(id, text); }
std::string StationWindow::text(int id) const { return controls_.text(id); }
int StationWindow::number(int id) const { return controls_.number(id); }
bool StationWindow::checked(int id) const { return controls_.checked(id); }
void StationWindow::setChecked(int id, bool checked) { controls_.setChecked(id, checked); }
void StationWindow::enable(int id, bool enabled) { controls_.enable(id, enabled); }
void StationWindow::show(int id, bool visible) { controls_.show(id, visible); }
void StationWindow::setPicture(int id, int pictureId) { controls_.setPicture(id, pictureId); }
void StationWindow::setProgressRange(int id, int low, int high) {
  controls_.setProgressRange(id, low, high);
}
void StationWindow::setProgress(int id, int position) { controls_.setProgress(id, position); }
void StationWindow::addRow(int id, const std::string& row) { controls_.addRow(id, row); }
int StationWindow::selectedRow(int id) const { return controls_.selectedRow(id); }
void StationWindow::setSelectedRow(int id, int row) { controls_.setSelectedRow(id, row); }
void StationWindow::setFont(int id, station::FontChoice font) { controls_.setFont(id, font); }
void StationWindow::messageBox(const std::string& text) { controls_.messageBox(text); }

std::string StationWindow::caption() const { return std::string(kWindowCaption); }

// --- Life cycle -----------------------------------------------------------------------------

void StationWindow::initialise() {
  // The About item exists only when its text does.
  if (auto about = text::lookup(text::kAboutItem); about && !about->empty()) {
    aboutMenuText_ = std::string(*about);
  }
  for (int row : kLanguageRows)
    addRow(id::kLanguage, std::string(*text::lookup(row)));
  platform_.system.applySystemAdjustments();
  availableRamKiB = platform_.system.availableMemoryBytes() >> 10;
  for (auto [control, limit] : kTextLimits)
    controls_.setTextLimit(control, limit);
  hubTable = {};
  for (int hub = 1; hub <= station::kHubCount; ++hub)
    show(station::hubBoxId(hub), false);
  for (int port = 1; port <= station::kPortCount; ++port) {
    setFont(station::portBoxId(port), station::FontChoice::ArialBlack10);
  }
  driveMaskCurrent = platform_.drives.logicalDriveMask();
  driveMaskPrevious = driveMaskCurrent;
  clearSharedState();
  neededSectors = 0;
  loadDefaultSettings();
  applySavedMappingChoice();
  enable(id::kAutoStop, false);
  platform_.drives.setEventListener(
      [this](platform::DeviceEvent event) { host_.post([this, event] { onDeviceEvent(event); }); });
}

void StationWindow::close() {
  closing = true;
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
  messageBox(std::string(*text::lookup(text::kSettingsLoaded)));
}

void StationWindow::clearSharedState() {
  for (auto& letter : slotDriveLetter)
    letter = 0;
  for (auto& colour : slotColour)
    colour = station::SlotColour::Idle;
  for (auto& port : ports)
    port.clear();
}

// --- Operator input -------------------------------------------------------------------------

void StationWindow::onClicked(int id) {
  if (control(id).kind == ControlKind::CheckBox) setChecked(id, !control(id).checked);
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
  case id::kAutoStop: return enable(id::kAutoStop, false);
  case id::kLoadIni: return onLoadSettingsClicked();
  case id::kSaveIni: return settings_.onSaveClicked();
  case id::kHubMap: return chooseMapping(true);
  case id::kNoHubMap: return chooseMapping(false);
  default: return;
  }
}

void StationWindow::onCopyFileClicked() {
  if (!checked(id::kCopyFile)) return;
  CopyDialog dialog(host_, copyList, languageOffset_);
  // With no row chosen there is nothing to copy, so the step goes off again.
  if (!dialog.run()) setChecked(id::kCopyFile, false);
}

void StationWindow::onTextEdited(int id, const std::string& typed) {
  const ControlRecord& r = control(id);
  if (r.kind != ControlKind::Edit || r.readOnly) return;
  std::string accepted = applyRule(typed, r.rule);
  if (r.textLimit > 0) accepted = cutToCharacters(accepted, r.textLimit);
  setText(id, accepted);
  if (id == id::kMaxPower) onMaxPowerEdited();
}

void StationWindow::onRowSelected(int id, int row) {
  setSelectedRow(id, row);
  if (id == id::kLanguage) onLanguageSelected();
  if (id == id::kIcType) onModelSelected();
  if (id == id::kLlfExtent) llfSelect = selectedRow(id);
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
    if (auto label = localText(textId)) setText(id, *label);
  }
  relabelWriteParameter();
}

void StationWindow::relabelWriteParameter() {
  const int textId = selectedRow(id::kIcType) == station::kEepromModelRow
                         ? text::kWriteParameterToEeprom
                         : text::kWriteParameterToCard;
  if (auto label = localText(textId)) setText(id::kWriteParameter, *label);
}

void StationWindow::onLanguageSelected() {
  const int row = selectedRow(id::kLanguage);
  languageChosen_ = row + 1;
  languageOffset_ = text::languageOffsetForRow(row);
  applyLanguage();
}

void StationWindow::applyStoredLanguage(int nLan) {
  languageChosen_ = nLan;
  setSelectedRow(id::kLanguage, nLan - 1);
  if (nLan != 0) languageOffset_ = text::languageOffsetForNumber(nLan);
  applyLanguage();
}

} // namespace tarvix::app
