// The set of platform services one station runs on. `apps/` builds it from the Linux backend or a
// simulated farm; everything else receives it and never knows which.
#pragma once

#include "platform/clock.h"
#include "platform/drives.h"
#include "platform/system.h"
#include "platform/trace.h"

namespace tarvix::platform {

struct Platform {
  Clock& clock;
  TraceSink& trace;
  SystemServices& system;
  Drives& drives;
};

} // namespace tarvix::platform
