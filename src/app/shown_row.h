// The row a drop-down list shows: the selected one; the language list with no row selected (no
// language chosen, the system's in use) shows the language in use rather than standing empty.
// The model keeps no selection, so the settings still store no choice. Pure; any thread.
#pragma once

#include "app/control.h"

namespace tarvix::app {

int shownRow(const ControlRecord& record, int languageOffset);

} // namespace tarvix::app
