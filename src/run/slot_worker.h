// The slot worker: prepares the reader on one port, all its LUNs, by the production sequence or,
// with Reset to Default Value checked, the reset sequence; shows progress and the end picture in
// the port box and marks the port done. Runs on the port's own thread.
#pragma once

#include "run/step_context.h"

namespace tarvix::run {

// The whole worker: every path clears `busy` and sets `done`.
void runSlotWorker(const StepContext& context, station::PortRecord& port);

} // namespace tarvix::run
