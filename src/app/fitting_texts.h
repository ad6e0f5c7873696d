// The texts a control of the station window may have to show whole: its label in each of the
// three languages, every row of a list, and for an edit the widest text the operator may type
// into it (as many of the widest character its rule lets through as its limit allows). The front
// ends make every field and label at least this wide, and their checks measure against it.
// Pure; any thread.
#pragma once

#include "app/control.h"

#include <string>
#include <vector>

namespace tarvix::app {

// Nothing for a control whose text is not meant to fit (the paths, which scroll; result lines,
// pictures and bars).
std::vector<std::string> textsShownWhole(const ControlRecord& record);

} // namespace tarvix::app
