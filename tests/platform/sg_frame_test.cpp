// The SG_IO header built for each kind of request, and when an answered request counts as failed.
#include "channel/command_blocks.h"
#include "platform/linux/sg/sg_frame.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace tarvix::platform::linux_backend {
namespace {

// One request per direction: where the data goes, how much, the sense area and the time-out.
TEST(SgHeader, EachDirection) {
  struct Case {
    PassThroughRequest request;
    int direction;
    unsigned length;
    bool data;
    unsigned char senseLength;
    unsigned timeoutMs;
  };
  const Case cases[] = {
      {channel::getCapacityCardRequest(), SG_DXFER_FROM_DEV, 8, true, 32, 2000},
      {channel::writeEepromRequest(200), SG_DXFER_TO_DEV, 200, true, 0, 4000},
      {channel::setBinAreaSizeRequest(64), SG_DXFER_NONE, 0, false, 32, 2000},
  };
  std::vector<std::uint8_t> area(65536);
  for (Case c : cases) {
    if (c.data) c.request.data = area.data();
    const sg_io_hdr h = makeSgIoHeader(c.request);
    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.dxfer_direction, c.direction);
    EXPECT_EQ(h.cmd_len, 16);
    EXPECT_EQ(h.cmdp, c.request.commandBlock.data());
    EXPECT_EQ(h.dxfer_len, c.length);
    EXPECT_EQ(h.dxferp, c.data ? area.data() : nullptr);
    EXPECT_EQ(h.mx_sb_len, c.senseLength);
    EXPECT_EQ(h.sbp, c.senseLength ? c.request.sense.data() : nullptr);
    EXPECT_EQ(h.timeout, c.timeoutMs);
    EXPECT_EQ(h.iovec_count, 0);
    EXPECT_EQ(h.flags, 0u);
  }
}

struct StatusCase {
  const char* label;
  int ioctlResult;
  int callErrno;
  unsigned char status;
  unsigned short host;
  unsigned short driver;
  bool ok;
  int errorCode;
};

TEST(SgOutcomeRules, CallStatusHostAndDriverAllCount) {
  const StatusCase cases[] = {
      {"all good", 0, 0, 0x00, 0x0000, 0x0000, true, 0},
      {"call failed", -1, ENODEV, 0x00, 0, 0, false, ENODEV},
      {"kernel refused the block", -1, EPERM, 0x00, 0, 0, false, EPERM},
      {"check condition", 0, 0, 0x02, 0, 0x0008, false, EIO},
      {"busy", 0, 0, 0x08, 0, 0, false, EIO},
      {"device gone", 0, 0, 0x00, 0x0001, 0, false, EIO},
      {"host time-out", 0, 0, 0x00, 0x0003, 0, false, EIO},
      {"driver time-out", 0, 0, 0x00, 0, 0x0006, false, EIO},
      {"driver error", 0, 0, 0x00, 0, 0x0004, false, EIO},
      // Sense data with a GOOD status is information, not an error.
      {"sense with good status", 0, 0, 0x00, 0, 0x0008, true, 0},
  };
  for (const auto& c : cases) {
    sg_io_hdr h{};
    h.status = c.status;
    h.host_status = c.host;
    h.driver_status = c.driver;
    const SgOutcome outcome = judgeSgOutcome(c.ioctlResult, c.callErrno, h);
    EXPECT_EQ(outcome.ok, c.ok) << c.label;
    EXPECT_EQ(outcome.errorCode, c.errorCode) << c.label;
  }
}

// The sense key reaches the channel so that it can send a UNIT ATTENTION's command again.
TEST(SgOutcomeRules, CheckConditionReportsItsSenseKey) {
  struct Case {
    unsigned char status;
    std::vector<unsigned char> sense;
    std::uint8_t key;
  };
  for (Case c : {Case{0x02, {0x70, 0, 0x06, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x29}, 0x06},
                 Case{0x02, {0x72, 0x06, 0x28, 0}, 0x06}, Case{0x02, {0xF0, 0, 0x05}, 0x05},
                 Case{0x00, {0x70, 0, 0x06}, 0}, Case{0x02, {}, 0}}) {
    sg_io_hdr h{};
    h.status = c.status;
    h.sbp = c.sense.data();
    h.sb_len_wr = static_cast<unsigned char>(c.sense.size());
    EXPECT_EQ(judgeSgOutcome(0, 0, h).senseKey, c.key) << int(c.status) << " " << c.sense.size();
  }
}

} // namespace
} // namespace tarvix::platform::linux_backend
