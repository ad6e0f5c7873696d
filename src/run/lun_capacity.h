// The sector count of a card LUN or of the whole card, asked the way the production steps ask it:
// up to ten attempts a second apart, because a freshly re-laid card answers late. Runs on the
// calling worker's thread with that worker's own holder.
#pragma once

#include "channel/reader_handle.h"
#include "platform/clock.h"

#include <cstdint>

namespace tarvix::run {

enum class CapacityForm { Unit, Card };

inline constexpr int kCapacityAttempts = 10;
inline constexpr std::uint32_t kCapacityRetryMs = 1000;

// The sector count, or 0 when no attempt succeeded. `lun` (1-4) names the unit of the unit form.
std::uint32_t sectorCountWithRetries(channel::ReaderHandleHolder& m_hUSBDeviceHandle,
                                     platform::Clock& clock, CapacityForm form, int lun);

} // namespace tarvix::run
