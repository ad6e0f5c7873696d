// The card probe: asks every mapped reader on an idle port who it is, checks it against the chosen
// controller model, and shows its card size or why it was refused. Window thread only.
#pragma once

#include "channel/reader_handle.h"
#include "platform/platform.h"
#include "station/controls.h"
#include "station/station_state.h"

#include <cstdint>
#include <string>

namespace tarvix::discovery {

// "E" -> "E:" style name of a drive letter, and the size of a letter's logical unit in MiB
// (unit-form capacity on a handle of its own; 0 when the reader does not answer).
std::uint64_t capacityMiB(platform::Platform& platform, const station::DriveRecord& record);
// The same on a handle the caller opened, for LUN `lun` (1-4).
std::uint64_t capacityMiB(channel::ReaderHandleHolder& opened, int lun);

struct ProbeOptions {
  int icType = 0;         // controller model row
  int languageOffset = 0; // for the texts shown
};

void probeCards(platform::Platform& platform, station::WindowControls& controls,
                station::StationState& state, const ProbeOptions& options);

} // namespace tarvix::discovery
