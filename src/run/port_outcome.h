// How one port fared in the current run, kept as a record rather than read back from what its box
// shows: whether it was started or refused and why, the picture the run left in its box, what
// the capacity check found on each LUN, and once the port is finished its production record
// (result, failure, steps and their durations, serial number, VID:PID, size, USB path, drives).
// The port box, the report and the production log are drawn from it. A worker fills its port's
// record alone and hands it over when the port is finished.
#pragma once

#include "log/production_record.h"
#include "station/numbering.h"
#include "station/records.h"
#include "text/pictures.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace tarvix::run {

enum class PortStage {
  Untouched, // the run did not look at the port
  Refused,   // it holds a reader that the start test or the port start turned down
  Started,   // its worker runs
  Finished,  // its worker ended; `record` is complete
};

struct CapacityCheckResult {
  station::CapacityVerdict verdict = station::CapacityVerdict::NotChecked;
  std::uint32_t realMiB = 0; // what a forged card really holds
};

struct PortOutcome {
  PortStage stage = PortStage::Untouched;
  text::PictureRole picture = text::PictureRole::Blank; // what the run left in the box
  std::string refusal;                                  // why it was refused, on one line
  std::array<CapacityCheckResult, station::kLunsPerPort> capacityChecks{}; // by LUN
  log::ProductionRecord record;
};

// The picture a finished port's result leaves in its box: a pulled reader's box is blank.
text::PictureRole resultPicture(log::PortResult result);
// The capacity check's verdicts as the production log keeps them: "genuine", "forged: real N
// MiB" or "unfinished" for each checked LUN, joined by "; ".
std::string capacityCheckText(const PortOutcome& outcome);

// Where a finished port's outcome goes. Called on the worker's thread; never waits on the window
// thread.
using OutcomeSink = std::function<void(const PortOutcome& outcome)>;

} // namespace tarvix::run
