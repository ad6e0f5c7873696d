#include "app/option_locks.h"

#include "station/control_ids.h"

namespace tarvix::app {
namespace {

namespace id = station::id;

// How Reset to Default Value locks a control.
enum class ResetLock {
  None,
  Always,
  // Only while Write parameter is checked too: the image path edits stay as their own box says.
  WithWriteParameter,
};

struct OptionLock {
  int control;
  bool runLocked;    // disabled while a run goes on
  ResetLock reset;   // disabled while Reset to Default Value is checked
  int enabledBy = 0; // usable only while this step box is checked; 0: no step box
};

constexpr ResetLock kNone = ResetLock::None;
constexpr ResetLock kAlways = ResetLock::Always;

// In the order the run locks them.
constexpr OptionLock kOptionLocks[] = {
    {id::kLanguageLabel, true, kNone},
    {id::kLanguage, true, kNone},
    {id::kAutoStart, true, kNone},
    {id::kIcType, true, kAlways},
    {id::kLoadIni, true, kAlways},
    {id::kSaveIni, true, kAlways},
    {id::kSettingsPath, true, kAlways},
    {id::kReadWriteTest, true, kAlways},
    {id::kLlf, true, kAlways},
    {id::kCapacityCheck, true, kAlways},
    {id::kCopyFile, true, kAlways},
    {id::kLlfExtent, true, kAlways, id::kLlf},
    {id::kFormat, true, kAlways},
    {id::kDiskLabel, true, kAlways, id::kFormat},
    {id::kDiskLabelLabel, true, kAlways, id::kFormat},
    {id::kWriteParameter, true, kAlways},
    {id::kCardInfoGroup, true, kAlways},
    {id::kResetToDefault, true, kNone},
    {id::kVidLabel, true, kAlways, id::kWriteParameter},
    {id::kPidLabel, true, kAlways, id::kWriteParameter},
    {id::kManufacturerLabel, true, kAlways, id::kWriteParameter},
    {id::kProductLabel, true, kAlways, id::kWriteParameter},
    {id::kSerialLabel, true, kAlways, id::kWriteParameter},
    {id::kVid, true, kAlways, id::kWriteParameter},
    {id::kPid, true, kAlways, id::kWriteParameter},
    {id::kManufacturer, true, kAlways, id::kWriteParameter},
    {id::kProduct, true, kAlways, id::kWriteParameter},
    {id::kSerial, true, kAlways, id::kWriteParameter},
    {id::kIncrease, true, kAlways, id::kWriteParameter},
    {id::kDiskInquiryLabel, true, kAlways, id::kWriteParameter},
    {id::kDiskVendorLabel, true, kAlways, id::kWriteParameter},
    {id::kDiskProductLabel, true, kAlways, id::kWriteParameter},
    {id::kDiskVendor, true, kAlways, id::kWriteParameter},
    {id::kDiskProduct, true, kAlways, id::kWriteParameter},
    {id::kCdromInquiryLabel, true, kAlways, id::kWriteParameter},
    {id::kCdromVendorLabel, true, kAlways, id::kWriteParameter},
    {id::kCdromProductLabel, true, kAlways, id::kWriteParameter},
    {id::kCdromVendor, true, kAlways, id::kWriteParameter},
    {id::kCdromProduct, true, kAlways, id::kWriteParameter},
    {id::kReadWriteCount, true, kAlways, id::kReadWriteTest},
    {id::kCdromIso, true, kAlways},
    {id::kLoadIso, true, kAlways, id::kCdromIso},
    {id::kIsoPath, true, ResetLock::WithWriteParameter, id::kCdromIso},
    {id::kBinaryFile, true, kAlways},
    {id::kLoadBinary, true, kAlways, id::kBinaryFile},
    {id::kBinaryPath, true, ResetLock::WithWriteParameter, id::kBinaryFile},
    {id::kLedSpeedLabel, true, kAlways, id::kWriteParameter},
    {id::kLedSpeed, true, kAlways, id::kWriteParameter},
    {id::kMaxPowerLabel, true, kAlways, id::kWriteParameter},
    {id::kMaxPower, true, kAlways, id::kWriteParameter},
    {id::kPowerMa, true, kAlways, id::kWriteParameter},
};

bool enabledOutsideARun(const OptionLock& lock, const std::function<bool(int)>& checked) {
  const bool stepAllows = lock.enabledBy == 0 || checked(lock.enabledBy);
  if (!checked(id::kResetToDefault)) return stepAllows;
  switch (lock.reset) {
  case ResetLock::None: return stepAllows;
  case ResetLock::Always: return false;
  case ResetLock::WithWriteParameter: return stepAllows && !checked(id::kWriteParameter);
  }
  return stepAllows;
}

} // namespace

std::vector<std::pair<int, bool>> optionStates(OptionMoment moment,
                                               const std::function<bool(int)>& checked) {
  std::vector<std::pair<int, bool>> states;
  for (const OptionLock& lock : kOptionLocks) {
    switch (moment) {
    case OptionMoment::RunStarts:
      if (lock.runLocked) states.emplace_back(lock.control, false);
      break;
    case OptionMoment::OptionChanged:
      // Controls that only a run locks are left to whoever else governs them.
      if (lock.reset != kNone || lock.enabledBy != 0)
        states.emplace_back(lock.control, enabledOutsideARun(lock, checked));
      break;
    case OptionMoment::RunEnds:
      if (lock.runLocked || lock.reset != kNone || lock.enabledBy != 0)
        states.emplace_back(lock.control, enabledOutsideARun(lock, checked));
      break;
    }
  }
  return states;
}

void applyOptionStates(station::WindowControls& controls, OptionMoment moment) {
  for (const auto& [control, on] :
       optionStates(moment, [&controls](int box) { return controls.checked(box); }))
    controls.enable(control, on);
}

} // namespace tarvix::app
