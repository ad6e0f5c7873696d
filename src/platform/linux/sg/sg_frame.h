// The SG_IO frame for one pass-through request, and the rule that judges its outcome. Pure
// functions so the header each direction produces and the status rules can be tested without a
// device.
#pragma once

#include "platform/reader_access.h"

#include <scsi/sg.h>

namespace tarvix::platform::linux_backend {

// The header points into `request` (command block, sense area, data), which must outlive it.
sg_io_hdr makeSgIoHeader(PassThroughRequest& request);

struct SgOutcome {
  bool ok = false;
  int errorCode = 0; // errno of a failed call, EIO when the device or its path reported an error
  std::uint8_t senseKey = 0; // of a CHECK CONDITION, from fixed or descriptor format sense
};

// A request succeeds only when the call succeeded, the SCSI status is GOOD and neither the host
// adapter nor the driver reports an error; a command the device refused with CHECK CONDITION is
// a failure even though the call itself returned 0.
SgOutcome judgeSgOutcome(int ioctlResult, int callErrno, const sg_io_hdr& header);

} // namespace tarvix::platform::linux_backend
