#include "app/control_table.h"

#include "station/control_ids.h"
#include "station/numbering.h"
#include "text/pictures.h"
#include "text/texts.h"

#include <algorithm>

namespace tarvix::app {
namespace {

using K = ControlKind;
using station::FontChoice;

struct OptionRow {
  int id;
  ControlKind kind;
  std::string_view text;
  int textId;
  EditRule rule = EditRule::Any;
  bool readOnly = false;
};

// The option area, in the order the window's resource lists it.
constexpr OptionRow kOptionArea[] = {
    {id::kNoHubMap, K::CheckBox, "NO Hub Map", 5000},
    {id::kHubMap, K::CheckBox, "Hub Map", 5001},
    {id::kAutoStart, K::PushButton, "Auto Start", 5002},
    {id::kAutoStop, K::PushButton, "Auto Stop", 5003},
    {id::kLoadIni, K::PushButton, "Load .ini File", 5004},
    {id::kSaveIni, K::PushButton, "Save .ini File", 5005},
    {id::kIcLabel, K::Label, "IC :", 5006},
    {id::kIcType, K::DropDown, "", 0},
    {id::kSettingsPath, K::Edit, "", 0, EditRule::Any, true},
    {id::kGeneralTestGroup, K::GroupBox, "General Test", 5007},
    {id::kLlf, K::CheckBox, "LLF", 5008},
    {id::kLlfExtent, K::DropDown, "", 0},
    {id::kFormat, K::CheckBox, "Format", 5009},
    {id::kDiskLabelLabel, K::Label, "(Disk Label)", 5010},
    {id::kDiskLabel, K::Edit, "", 0},
    {id::kReadWriteTest, K::CheckBox, "Read/Write Test", 5011},
    {id::kReadWriteCount, K::Edit, "", 0, EditRule::Digits},
    {id::kCopyFile, K::CheckBox, "Copy File", 5012},
    {id::kCapacityCheck, K::CheckBox, "Capacity Check", text::kCapacityCheckLabel},
    {id::kCardInfoGroup, K::GroupBox, "Card Information  (Hex)", 5013},
    {id::kWriteParameter, K::CheckBox, "Write parameter to card", 5014},
    {id::kVidLabel, K::Label, "VID :", 5015},
    {id::kVid, K::Edit, "", 0, EditRule::HexDigits},
    {id::kPidLabel, K::Label, "PID :", 5016},
    {id::kPid, K::Edit, "", 0, EditRule::HexDigits},
    {id::kManufacturerLabel, K::Label, "Manufacture :", 5017},
    {id::kManufacturer, K::Edit, "", 0, EditRule::UpperCase},
    {id::kProductLabel, K::Label, "Product :", 5018},
    {id::kProduct, K::Edit, "", 0, EditRule::UpperCase},
    {id::kSerialLabel, K::Label, "Serial :", 5019},
    {id::kSerial, K::Edit, "", 0, EditRule::Digits},
    {id::kIncrease, K::CheckBox, "Increase", 0},
    {id::kDiskInquiryLabel, K::Label, "Disk Inquiry Data :", 5020},
    {id::kDiskVendorLabel, K::Label, "Vendor :", 5021},
    {id::kDiskVendor, K::Edit, "", 0},
    {id::kDiskProductLabel, K::Label, "Product :", 5022},
    {id::kDiskProduct, K::Edit, "", 0},
    {id::kCdromInquiryLabel, K::Label, "CD-ROM Inquiry Data :", 5023},
    {id::kCdromVendorLabel, K::Label, "Vendor :", 5024},
    {id::kCdromVendor, K::Edit, "", 0},
    {id::kCdromProductLabel, K::Label, "Product :", 5025},
    {id::kCdromProduct, K::Edit, "", 0},
    {id::kLedSpeedLabel, K::Label, "LED Speed:", 5026},
    {id::kLedSpeed, K::DropDown, "", 0},
    {id::kMaxPowerLabel, K::Label, "Max Power :", 5027},
    {id::kMaxPower, K::Edit, "", 0, EditRule::Digits},
    {id::kPowerMa, K::Label, "(mA)", 0},
    {id::kBinaryGroup, K::GroupBox, "Binary File", 5028},
    {id::kBinaryFile, K::CheckBox, "Binary File", 5029},
    {id::kLoadBinary, K::PushButton, "Load Binary File", 5030},
    {id::kBinaryPath, K::Edit, "", 0, EditRule::Any, true},
    {id::kCdromGroup, K::GroupBox, "CD-ROM", 5031},
    {id::kCdromIso, K::CheckBox, "CD-ROM ISO", 5032},
    {id::kLoadIso, K::PushButton, "Load ISO File", 5033},
    {id::kIsoPath, K::Edit, "", 0, EditRule::Any, true},
    {id::kResetToDefault, K::CheckBox, "Reset to Default Value", 5034},
    {id::kLanguageLabel, K::Label, "Language:", 5035},
    {id::kLanguage, K::DropDown, "", 0},
    {id::kLogo, K::Picture, "", 0},
};

ControlRecord optionRecord(const OptionRow& row) {
  ControlRecord r;
  r.id = row.id;
  r.kind = row.kind;
  r.text = std::string(row.text);
  r.textId = row.textId;
  r.rule = row.rule;
  r.readOnly = row.readOnly;
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
  for (const OptionRow& row : kOptionArea)
    controls.push_back(optionRecord(row));

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
