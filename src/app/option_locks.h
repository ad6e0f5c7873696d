// Which option controls the operator may use, as one table and one pure function: whether a run
// is starting or ending, whether Reset to Default Value is checked, and which step check boxes
// are checked decide it. The window applies the result; nothing else enables or disables them.
#pragma once

#include "station/controls.h"

#include <functional>
#include <utility>
#include <vector>

namespace tarvix::app {

enum class OptionMoment {
  RunStarts,     // the run locks the option area
  OptionChanged, // a step box, the reset box or the model changed outside a run
  RunEnds,       // the option area comes back as the boxes say
};

// The enabled state of every control the moment decides, in table order. `checked` tells
// whether a check box is checked now.
std::vector<std::pair<int, bool>> optionStates(OptionMoment moment,
                                               const std::function<bool(int)>& checked);
// Enables and disables the option controls as the table says for `moment`.
void applyOptionStates(station::WindowControls& controls, OptionMoment moment);

} // namespace tarvix::app
