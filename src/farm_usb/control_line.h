// The device server's control lines: "pull ID" takes a reader off the bus, "plug ID" puts it
// back, "fault ID FAULT" arms a fault (a farm file's fault entry, as JSON) from then on, so that
// scripts can drive hot-plug and cards going bad while the farm is served. Thread-safe as the farm
// is.
#pragma once

#include "platform/sim/farm.h"

#include <string>
#include <string_view>

namespace tarvix::farm_usb {

// Carries out one line and returns its answer: "ok", or a line that starts with "error: ".
// An empty line gets no answer (an empty string).
std::string answerControlLine(platform::sim::Farm& farm, std::string_view line);

} // namespace tarvix::farm_usb
