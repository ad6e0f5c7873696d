// The station window's controls as they are when the window is created.
#pragma once

#include "app/control.h"
#include "station/models.h"

#include <array>
#include <string_view>
#include <vector>

namespace tarvix::app {

// The rows of the controller model list; the row is the model's `icType`.
inline constexpr std::array<std::string_view, station::kModelCount> kControllerModels = {
    "VQ301A", "VQ301B",        "VQ301C",        "VQ301C-A-1LUN", "VQ301C-A-2LUN",
    "VQ305A", "VQ307B2B-1LUN", "VQ307B2B-2LUN", "VQ348",
};

inline constexpr std::string_view kWindowCaption = "Tarvix 100.0.0.6";
inline constexpr std::string_view kApplicationName = "Tarvix";

// Every control of the window: the option area, then the port grid, ascending by id.
std::vector<ControlRecord> initialControls();

} // namespace tarvix::app
