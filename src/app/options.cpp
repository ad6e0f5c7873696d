// The option area's handlers: which controls a step's check box unlocks, what the controller model
// shows, the reset-to-default lock, the image choice and the port-mapping mode.
#include "app/control_table.h"
#include "app/option_locks.h"
#include "app/option_table.h"
#include "app/station_window.h"
#include "station/control_ids.h"
#include "station/numbering.h"
#include "text/texts.h"

namespace tarvix::app {
namespace {

// Whether the model's view shows the controls of `group`.
bool shows(const station::ModelView& view, ModelGroup group) {
  switch (group) {
  case ModelGroup::Always: return true;
  case ModelGroup::CardInformation: return view.cardInformation;
  case ModelGroup::CdromInquiry: return view.cdromInquiry;
  case ModelGroup::CdromImage: return view.cdromImage;
  case ModelGroup::BinaryImage: return view.binaryImage;
  case ModelGroup::LedAndPower: return view.ledAndPower;
  case ModelGroup::ResetToDefault: return view.resetToDefault;
  }
  return true;
}

int characters(const std::string& s) {
  int count = 0;
  for (char c : s)
    count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

} // namespace

void StationWindow::onModelSelected() {
  applyModelView();
  scanner_.probe(probeOptions());
}

void StationWindow::applyModelView() {
  const int row = controls_.selectedRow(id::kIcType);
  if (const station::ModelTraits* model = station::modelTraits(row)) {
    const station::ModelView& view = model->view;
    for (const OptionSpec& spec : optionTable()) {
      if (spec.group != ModelGroup::Always) controls_.show(spec.id, shows(view, spec.group));
    }
    if (!view.cardInformation) controls_.setChecked(id::kWriteParameter, false);
    if (!view.cdromImage) controls_.setChecked(id::kCdromIso, false);
    if (!view.binaryImage) controls_.setChecked(id::kBinaryFile, false);

    if (auto label = localText(text::kCardInformationGroup))
      controls_.setText(id::kCardInfoGroup, *label);
    relabelWriteParameter();

    if (view.neutralWhenTooLong) {
      // Texts that no longer fit the model's string descriptors take a neutral default.
      if (characters(controls_.text(id::kManufacturer)) > view.manufacturerLimit)
        controls_.setText(id::kManufacturer, " Generic ");
      if (characters(controls_.text(id::kProduct)) > view.productLimit)
        controls_.setText(id::kProduct, " AutoRUN/Partition ");
    }
    if (view.manufacturerLimit != 0) {
      controls_.setTextLimit(id::kManufacturer, view.manufacturerLimit);
      controls_.setTextLimit(id::kProduct, view.productLimit);
      controls_.setTextLimit(id::kSerial, view.serialLimit);
    }
    applyOptionStates(controls_, OptionMoment::OptionChanged);
  }
}

void StationWindow::onResetToDefaultClicked() {
  applyOptionStates(controls_, OptionMoment::OptionChanged);
}

void StationWindow::onMaxPowerEdited() {
  controls_.setText(id::kPowerMa,
                    "(" + std::to_string(controls_.number(id::kMaxPower) * 2) + " mA)");
}

void StationWindow::chooseImage(bool iso) {
  ui::PathRequest request;
  request.kind = ui::PathRequest::Kind::OpenFile;
  // The default name is offered as the file's name; the title is the button's label.
  request.title = control(iso ? id::kLoadIso : id::kLoadBinary).text;
  request.start =
      std::filesystem::path(controls_.text(iso ? id::kIsoPath : id::kBinaryPath)).parent_path() /
      (iso ? "AutoRun.iso" : "BinaryFile.bin");
  request.filter = iso ? "ISO File (*.iso)" : "Binary File (*.bin)";
  const auto chosen = host_.askPath(request);
  if (!chosen) return;
  controls_.setText(iso ? id::kIsoPath : id::kBinaryPath, chosen->string());
  controls_.messageBox(std::string(*text::lookup(iso ? text::kIsoLoaded : text::kBinaryLoaded)));
}

void StationWindow::applySavedMappingChoice() {
  if (controls_.checked(id::kHubMap)) return chooseMapping(true);
  if (controls_.checked(id::kNoHubMap)) return chooseMapping(false);
  // No mode yet: pass the options through the reset lock once so they end unlocked, then wait
  // for the operator to pick a mode.
  controls_.setChecked(id::kResetToDefault, true);
  onResetToDefaultClicked();
  controls_.setChecked(id::kResetToDefault, false);
  controls_.enable(id::kAutoStart, false);
  controls_.enable(id::kResetToDefault, false);
}

void StationWindow::applyStartupOptions() {
  if (!mappingModeChosen()) return;
  applyModelView();
  controls_.setChecked(id::kResetToDefault, false);
  onResetToDefaultClicked();
}

void StationWindow::chooseMapping(bool hubMap) {
  if (!controls_.checked(hubMap ? id::kHubMap : id::kNoHubMap)) return;
  scanner_.fullScan(mappingMode(), probeOptions());
  // The model handler and the reset lock, as a headless run applies them before it scans; the
  // model handler's probe reads neither.
  applyStartupOptions();
  scanner_.probe(probeOptions());
  controls_.enable(id::kAutoStart, true);
  controls_.enable(id::kResetToDefault, true);
  controls_.enable(id::kNoHubMap, false);
  controls_.enable(id::kHubMap, false);
  for (int hub = 1; hub <= station::kHubCount; ++hub) {
    controls_.show(station::hubBoxId(hub), hubMap);
    if (hubMap) controls_.setFont(station::hubBoxId(hub), station::FontChoice::ArialBlack10);
  }
}

discovery::MappingMode StationWindow::mappingMode() const {
  return {controls_.checked(id::kHubMap), controls_.checked(id::kNoHubMap)};
}

discovery::ProbeOptions StationWindow::probeOptions() const {
  return {controls_.selectedRow(id::kIcType), languageOffset_.load()};
}

void StationWindow::onDeviceEvent(platform::DeviceEvent event) {
  const discovery::MappingMode mode = mappingMode();
  if (!mode.any()) return;
  if (event == platform::DeviceEvent::Arrival) {
    scanner_.arrivalScan(mode, probeOptions());
  } else {
    scanner_.removalPass();
  }
}

} // namespace tarvix::app
