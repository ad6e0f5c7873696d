// The slot worker: prepares the reader on one port, all its LUNs, by the production sequence or,
// with Reset to Default Value checked, the reset sequence; shows progress and the end picture in
// the port box and marks the port done. Runs on the port's own thread.
#pragma once

#include "run/port_outcome.h"
#include "run/reader_binding.h"
#include "run/step_context.h"

namespace tarvix::run {

// The whole worker: every path clears `busy` and sets `done`. Every command goes to the readers
// of `binding` only, and none once one of them has gone. `outcome` holds what the port start knew
// of the reader; the worker completes it (steps and their times, what was written, the result)
// and hands it to `sink` once the port is finished, before it marks the port done.
void runSlotWorker(StepContext context, station::PortRecord& port, const ReaderBinding& binding,
                   PortOutcome outcome, const OutcomeSink& sink);

} // namespace tarvix::run
