// The scans that keep the station's picture of plugged-in readers current: a full scan when the
// mapping mode is chosen, an arrival scan when a device comes up, a removal pass when one goes.
// Window thread only.
#pragma once

#include "discovery/mapping.h"
#include "discovery/probe.h"

namespace tarvix::discovery {

class Scanner {
public:
  Scanner(platform::Platform& platform, station::WindowControls& controls,
          station::StationState& state)
      : platform_(platform), controls_(controls), state_(state) {}

  // Inspects every letter afresh, walks, maps, assigns slots and probes.
  void fullScan(MappingMode mode, const ProbeOptions& probe);
  // Inspects only letters that are new since the last look (never Z), then as the full scan.
  void arrivalScan(MappingMode mode, const ProbeOptions& probe);
  // Frees the slots of letters that have gone, and a port when its last letter went.
  void removalPass();
  void probe(const ProbeOptions& options) { probeCards(platform_, controls_, state_, options); }

private:
  void walkMapAssignProbe(MappingMode mode, const ProbeOptions& probe);
  // Swaps in the current drive mask and returns the one seen before.
  std::uint32_t takeDriveMask();

  platform::Platform& platform_;
  station::WindowControls& controls_;
  station::StationState& state_;
};

} // namespace tarvix::discovery
