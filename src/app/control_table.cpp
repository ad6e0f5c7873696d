#include "app/control_table.h"

#include "app/option_table.h"

#include "station/control_ids.h"
#include "station/numbering.h"
#include "text/pictures.h"
#include "text/texts.h"

#include <algorithm>

namespace tarvix::app {
namespace {

using K = ControlKind;

ControlRecord optionRecord(const OptionSpec& spec) {
  ControlRecord r;
  r.id = spec.id;
  r.kind = spec.kind;
  r.text = std::string(spec.text);
  r.textId = spec.textId;
  r.rule = spec.rule;
  r.readOnly = spec.readOnly;
  r.textLimit = spec.textLimit;
  return r;
}

// A port grid record of `kind`, `text` and shown as `visible`.
ControlRecord gridRecord(int id, ControlKind kind, std::string text = {}, bool visible = true) {
  ControlRecord r;
  r.id = id;
  r.kind = kind;
  r.text = std::move(text);
  r.visible = visible;
  return r;
}

void addPortGrid(std::vector<ControlRecord>& controls) {
  using namespace station;
  for (int hub = 1; hub <= kHubCount; ++hub)
    controls.push_back(gridRecord(hubBoxId(hub), K::GroupBox, "HUB " + std::to_string(hub)));
  for (int port = 1; port <= kPortCount; ++port) {
    controls.push_back(gridRecord(portBoxId(port), K::GroupBox, "Port " + std::to_string(port)));
    controls.push_back(gridRecord(statusPictureId(port), K::Picture));
    controls.back().picture = text::kBlankPicture;
    controls.push_back(gridRecord(progressBarId(port), K::ProgressBar));
    controls.back().rangeHigh = kProgressMax;
    for (int lun = 1; lun <= kLunsPerPort; ++lun) {
      const int slot = slotNumber(port, lun);
      const bool shown = lun <= kVisibleLuns; // LUNs 3 and 4 keep lines nobody sees
      controls.push_back(gridRecord(slotLabelId(slot), K::PushButton, std::to_string(slot), shown));
      controls.push_back(gridRecord(resultLineId(slot), K::ResultLine, {}, shown));
      controls.back().readOnly = true;
    }
  }
}

} // namespace

std::vector<ControlRecord> initialControls() {
  std::vector<ControlRecord> controls;
  for (const OptionSpec& spec : optionTable())
    controls.push_back(optionRecord(spec));

  auto find = [&](int wanted) {
    return std::find_if(controls.begin(), controls.end(), [&](auto& c) { return c.id == wanted; });
  };
  find(id::kAutoStop)->visible = false;
  find(id::kAutoStop)->enabled = false;
  for (const station::ModelTraits& model : station::kModels)
    find(id::kIcType)->rows.emplace_back(model.name);
  find(id::kLlfExtent)->rows = {"10MB", "1%", "5%", "100%"};
  find(id::kLedSpeed)->rows = {"0 : 150", "1 : 50", "2 : 200", "3 : 75"};
  find(id::kLedSpeed)->sorted = true;
  find(id::kLogo)->picture = text::kLogoPicture;

  addPortGrid(controls);
  std::sort(controls.begin(), controls.end(), [](auto& a, auto& b) { return a.id < b.id; });
  return controls;
}

} // namespace tarvix::app
