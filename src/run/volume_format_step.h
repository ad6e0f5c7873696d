// The volume format step: a new FAT file system on one card LUN, FAT32 or FAT16 by its size, with
// the operator's label, and the result on the LUN's line. Runs on the port's worker thread.
#pragma once

#include "run/step_context.h"

namespace tarvix::run {

// True when the step passed or had nothing to do; false (the line turns red) when it failed.
[[nodiscard]] bool formatVolumeStep(const StepContext& context, int driveIndex);

} // namespace tarvix::run
