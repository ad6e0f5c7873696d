// The set of platform services one station runs on. `apps/` builds it from the Linux backend or a
// simulated farm; everything else receives it and never knows which.
#pragma once

#include "platform/clock.h"
#include "platform/drives.h"
#include "platform/reader_access.h"
#include "platform/system.h"
#include "platform/trace.h"
#include "platform/usb_tree.h"
#include "platform/volumes.h"

namespace tarvix::platform {

struct Platform {
  Clock& clock;
  TraceSink& trace;
  SystemServices& system;
  Drives& drives;
  UsbTree& usb;
  ReaderAccess& readers;
  Volumes& volumes;
};

} // namespace tarvix::platform
