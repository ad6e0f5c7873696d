// Volume serial numbers, made from the local time so that two formats seldom share one.
#pragma once

#include "platform/clock.h"

#include <cstdint>

namespace tarvix::fat {

std::uint32_t volumeIdFromTime(const platform::LocalTime& t);
// The serial number for a format started now.
std::uint32_t make_volume_id(const platform::Clock& clock);

} // namespace tarvix::fat
