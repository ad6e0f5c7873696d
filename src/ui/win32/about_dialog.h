// The About box: a modal dialog with the station's icon, its version line and one button that
// closes it, built from an in-memory template so that the system lays it out and scales it with
// its owner's screen. Window thread only.
#pragma once

#include <windows.h>

namespace tarvix::ui {

void runAboutDialog(HWND owner);

} // namespace tarvix::ui
