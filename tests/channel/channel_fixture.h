// A holder on a recording backend, with a captured trace and a clock that only counts.
#pragma once

#include "channel/reader_handle.h"
#include "channel/recording_access.h"

#include <gtest/gtest.h>

namespace tarvix::channel {

class ChannelFixture : public ::testing::Test {
protected:
  bool open() { return GetUSBDeviceHandle(holder, "E:", clock); }

  testing::RecordingAccess access;
  testing::RecordingClock clock;
  platform::CapturingTrace trace;
  ReaderHandleHolder holder{access, trace};
};

} // namespace tarvix::channel
