#include "app/option_locks.h"

#include "app/option_table.h"
#include "station/control_ids.h"

namespace tarvix::app {
namespace {

namespace id = station::id;

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
  for (const OptionSpec& spec : optionTable()) {
    const OptionLock& lock = spec.lock;
    switch (moment) {
    case OptionMoment::RunStarts:
      if (lock.run) states.emplace_back(spec.id, false);
      break;
    case OptionMoment::OptionChanged:
      // Controls that only a run locks are left to whoever else governs them.
      if (lock.reset != ResetLock::None || lock.enabledBy != 0)
        states.emplace_back(spec.id, enabledOutsideARun(lock, checked));
      break;
    case OptionMoment::RunEnds:
      if (lock.run || lock.reset != ResetLock::None || lock.enabledBy != 0)
        states.emplace_back(spec.id, enabledOutsideARun(lock, checked));
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
