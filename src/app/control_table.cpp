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

void addPortGrid(std::vector<ControlRecord>& controls) {
  using namespace station;
  for (int hub = 1; hub <= kHubCount; ++hub) {
    ControlRecord box;
    box.id = hubBoxId(hub);
    box.kind = K::GroupBox;
    box.text = "HUB " + std::to_string(hub);
    controls.push_back(box);
  }
  for (int port = 1; port <= kPortCount; ++port) {
    ControlRecord box;
    box.id = portBoxId(port);
    box.kind = K::GroupBox;
    box.text = "Port " + std::to_string(port);
    controls.push_back(box);

    ControlRecord picture;
    picture.id = statusPictureId(port);
    picture.kind = K::Picture;
    picture.picture = text::kBlankPicture;
    controls.push_back(picture);

    ControlRecord progress;
    progress.id = progressBarId(port);
    progress.kind = K::ProgressBar;
    progress.rangeHigh = kProgressMax;
    controls.push_back(progress);

    for (int lun = 1; lun <= kLunsPerPort; ++lun) {
      const int slot = slotNumber(port, lun);
      const bool shown = lun <= kVisibleLuns; // LUNs 3 and 4 keep lines nobody sees
      ControlRecord label;
      label.id = slotLabelId(slot);
      label.kind = K::PushButton;
      label.text = std::to_string(slot);
      label.visible = shown;
      controls.push_back(label);

      ControlRecord line;
      line.id = resultLineId(slot);
      line.kind = K::ResultLine;
      line.readOnly = true;
      line.visible = shown;
      controls.push_back(line);
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
