#include "app/station_window.h"

#include "app/control_table.h"
#include "app/copy_dialog.h"
#include "station/control_ids.h"
#include "text/language.h"
#include "text/texts.h"

#include <cctype>
#include <charconv>

namespace tarvix::app {
namespace {

constexpr int kFirstId = 1000;
// How often queued port box changes reach the window: a smooth bar, and few wake-ups.
constexpr auto kDisplayPeriod = std::chrono::milliseconds(80);
constexpr int kLastId = id::kCapacityCheck;

// Edit text limits, set once the window exists.
constexpr std::pair<int, int> kTextLimits[] = {
    {id::kVid, 4},         {id::kPid, 4},          {id::kManufacturer, 9},
    {id::kProduct, 19},    {id::kSerial, 12},      {id::kDiskVendor, 8},
    {id::kCdromVendor, 8}, {id::kDiskProduct, 16}, {id::kCdromProduct, 16},
    {id::kMaxPower, 3},    {id::kDiskLabel, 11},   {id::kReadWriteCount, kReadWriteCountDigits},
};

constexpr int kLanguageRows[] = {text::kLanguageEnglish, text::kLanguageSimplified,
                                 text::kLanguageTraditional};

// The port boxes' result lines, bars and pictures: where workers show how their port is doing.
bool inPortBox(int id) {
  using namespace station;
  return isResultLine(id) || (id >= progressBarId(1) && id <= progressBarId(kPortCount)) ||
         (id >= statusPictureId(1) && id <= statusPictureId(kPortCount));
}

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
    : platform_(platform), host_(host), records_(kLastId - kFirstId + 1) {
  for (ControlRecord& r : initialControls()) {
    ids_.push_back(r.id);
    records_[r.id - kFirstId] = std::move(r);
  }
}

StationWindow::~StationWindow() {
  // No device event may reach a window that is gone: stop them, then let queued ones run out.
  platform_.drives.setEventListener({});
  if (host_.onWindowThread()) {
    waitForWorkers();
    host_.stopTimer(kDisplayTimer);
  } else {
    host_.runAndWait([this] {
      host_.stopTimer(kPollTimer);
      host_.stopTimer(kDisplayTimer);
    });
    for (std::thread& worker : workers_)
      worker.join();
    host_.runAndWait([] {});
  }
}

ControlRecord* StationWindow::find(int id) {
  if (id < kFirstId || id > kLastId || records_[id - kFirstId].id != id) return nullptr;
  return &records_[id - kFirstId];
}

const ControlRecord& StationWindow::record(int id) const {
  static const ControlRecord kMissing{};
  if (id < kFirstId || id > kLastId || records_[id - kFirstId].id != id) return kMissing;
  return records_[id - kFirstId];
}

const ControlRecord& StationWindow::control(int id) const { return record(id); }

template <typename Change> void StationWindow::change(int id, Change&& apply) {
  auto run = [&] {
    ControlRecord* r = find(id);
    if (r == nullptr) return; // no such control: nothing to change
    apply(*r);
    ++revision_;
  };
  if (host_.onWindowThread()) {
    run();
  } else {
    host_.runAndWait(run);
  }
}

template <typename Read> auto StationWindow::read(int id, Read&& get) const {
  if (host_.onWindowThread()) return get(record(id));
  decltype(get(record(id))) result{};
  // A worker reads what it has shown, queued or not.
  host_.runAndWait([&] {
    const_cast<StationWindow*>(this)->flushDisplay();
    result = get(record(id));
  });
  return result;
}

void StationWindow::display(int id, DisplayQueue::Property property,
                            std::function<void(ControlRecord&)> apply) {
  if (!inPortBox(id)) return change(id, apply);
  if (host_.onWindowThread()) {
    displayQueue_.drop(id, property);
    change(id, apply);
    return;
  }
  const bool due = displayQueue_.put(id, property, [this, id, apply = std::move(apply)] {
    if (ControlRecord* r = find(id)) {
      apply(*r);
      ++revision_;
    }
  });
  if (due) {
    host_.post(
        [this] { host_.armTimer(kDisplayTimer, kDisplayPeriod, [this] { flushDisplay(); }); });
  }
}

void StationWindow::flushDisplay() {
  for (const DisplayQueue::Apply& apply : displayQueue_.take())
    apply();
}

// --- Control operations ---------------------------------------------------------------------

void StationWindow::setText(int id, const std::string& text) {
  display(id, DisplayQueue::Property::Text, [text](ControlRecord& r) { r.text = text; });
}

std::string StationWindow::text(int id) const {
  return read(id, [](const ControlRecord& r) { return r.text; });
}

int StationWindow::number(int id) const {
  const std::string t = text(id);
  std::size_t start = t.find_first_not_of(" \t");
  if (start == std::string::npos) return 0;
  int value = 0;
  std::from_chars(t.data() + start, t.data() + t.size(), value);
  return value;
}

bool StationWindow::checked(int id) const {
  return read(id, [](const ControlRecord& r) { return r.checked; });
}

void StationWindow::setChecked(int id, bool checked) {
  change(id, [&](ControlRecord& r) { r.checked = checked; });
}

void StationWindow::enable(int id, bool enabled) {
  change(id, [&](ControlRecord& r) { r.enabled = enabled; });
}

void StationWindow::show(int id, bool visible) {
  change(id, [&](ControlRecord& r) { r.visible = visible; });
}

void StationWindow::setPicture(int id, int pictureId) {
  display(id, DisplayQueue::Property::Picture,
          [pictureId](ControlRecord& r) { r.picture = pictureId; });
}

void StationWindow::setProgressRange(int id, int low, int high) {
  display(id, DisplayQueue::Property::Range, [low, high](ControlRecord& r) {
    r.rangeLow = low;
    r.rangeHigh = high;
  });
}

void StationWindow::setProgress(int id, int position) {
  display(id, DisplayQueue::Property::Position,
          [position](ControlRecord& r) { r.position = position; });
}

void StationWindow::addRow(int id, const std::string& row) {
  change(id, [&](ControlRecord& r) {
    auto at = r.rows.end();
    if (r.sorted) at = std::upper_bound(r.rows.begin(), r.rows.end(), row);
    r.rows.insert(at, row);
  });
}

int StationWindow::selectedRow(int id) const {
  return read(id, [](const ControlRecord& r) { return r.selectedRow; });
}

void StationWindow::setSelectedRow(int id, int row) {
  change(id, [&](ControlRecord& r) {
    r.selectedRow = (row >= 0 && row < static_cast<int>(r.rows.size())) ? row : -1;
  });
}

void StationWindow::setFont(int id, station::FontChoice font) {
  change(id, [&](ControlRecord& r) { r.font = font; });
}

void StationWindow::messageBox(const std::string& text) {
  auto show = [&] { host_.messageBox(text, std::string(kApplicationName)); };
  if (host_.onWindowThread()) {
    show();
  } else {
    host_.runAndWait(show);
  }
}

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
  runPrepared = false;
  for (auto [control, limit] : kTextLimits)
    setTextLimit(control, limit);
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

void StationWindow::setTextLimit(int id, int limit) {
  change(id, [limit](ControlRecord& r) { r.textLimit = limit; });
}

void StationWindow::close() {
  closing = true;
  waitForWorkers();
  // The default file always receives the settings the station closed with.
  settingsPath = stationSettingsPath;
  if (!saveSettings())
    platform_.trace.line("settings: " + settingsPath.string() + ": cannot be written");
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
  if (record(id).kind == ControlKind::CheckBox) setChecked(id, !record(id).checked);
  switch (id) {
  case id::kReadWriteTest:
  case id::kLlf:
  case id::kFormat:
  case id::kWriteParameter:
  case id::kBinaryFile:
  case id::kCdromIso: return applyOptionStates(OptionMoment::OptionChanged);
  case id::kLoadIso: return chooseImage(true);
  case id::kLoadBinary: return chooseImage(false);
  case id::kResetToDefault: return onResetToDefaultClicked();
  case id::kCopyFile: return onCopyFileClicked();
  case id::kAutoStart: return onAutoStart();
  case id::kAutoStop: return enable(id::kAutoStop, false);
  case id::kLoadIni: return onLoadSettingsClicked();
  case id::kSaveIni: return onSaveSettingsClicked();
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
  const ControlRecord& r = record(id);
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
  for (int id : ids_) {
    const int textId = record(id).textId;
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
