// Maps positioned drive letters to port boxes and slots, and hands the result to the port records.
#pragma once

#include "station/station_state.h"

namespace tarvix::discovery {

struct MappingMode {
  bool hubMap = false;   // readers on up to three numbered seven-port hubs
  bool noHubMap = false; // readers straight in the root-hub ports
  bool any() const { return hubMap || noHubMap; }
};

// Gives records hub, port, LUN number and slot by the mode(s) chosen.
void mapPortsAndSlots(station::StationState& state, MappingMode mode);

// Copies each mapped letter into its port's record, except on ports whose worker runs.
void assignSlots(station::StationState& state);

} // namespace tarvix::discovery
