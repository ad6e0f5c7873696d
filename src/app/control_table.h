// The station window's controls as they are when the window is created.
#pragma once

#include "app/control.h"
#include "station/models.h"

#include <array>
#include <string_view>
#include <vector>

namespace tarvix::app {

inline constexpr std::string_view kWindowCaption = "Tarvix 100.0.0.6";
inline constexpr std::string_view kApplicationName = "Tarvix";
// After the application's name in the caption of a box a port's worker shows: "Tarvix: port 3".
inline constexpr std::string_view kPortCaption = ": port ";

// Every control of the window: the option area, then the port grid, ascending by id.
std::vector<ControlRecord> initialControls();

} // namespace tarvix::app
