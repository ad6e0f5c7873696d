// A holder on a recording backend, with a captured trace and a clock that only counts.
#pragma once

#include "channel/reader_handle.h"
#include "support/fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tarvix::channel {

class ChannelFixture : public ::testing::Test {
protected:
  bool open() { return GetUSBDeviceHandle(holder, "E:", clock); }

  testing::FakeReaders access;
  testing::RecordingClock clock;
  platform::CapturingTrace trace;
  ReaderHandleHolder holder{access, trace};
};

// The same holder already open, with the open's trace lines dropped.
class OpenChannel : public ChannelFixture {
protected:
  void SetUp() override {
    ASSERT_TRUE(open());
    trace.clear();
  }
};

template <typename Bytes> bool allAre(const Bytes& bytes, std::uint8_t value) {
  return std::all_of(std::begin(bytes), std::end(bytes), [&](auto b) { return b == value; });
}

} // namespace tarvix::channel
