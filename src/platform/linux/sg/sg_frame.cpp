#include "platform/linux/sg/sg_frame.h"

#include <cerrno>

namespace tarvix::platform::linux_backend {
namespace {

constexpr unsigned char kScsiStatusGood = 0x00;
constexpr unsigned char kScsiStatusCheckCondition = 0x02;
constexpr unsigned short kHostOk = 0x00;
// The low nibble of driver_status is the driver's verdict; DRIVER_SENSE (08h) only says that
// sense data came back, which the SCSI status already judges.
constexpr unsigned short kDriverStatusMask = 0x0F;
constexpr unsigned short kDriverOk = 0x00;
constexpr unsigned short kDriverSense = 0x08;

} // namespace

sg_io_hdr makeSgIoHeader(PassThroughRequest& request) {
  sg_io_hdr header{};
  header.interface_id = 'S';
  if (request.dataLength == 0)
    header.dxfer_direction = SG_DXFER_NONE;
  else
    header.dxfer_direction =
        request.direction == DataDirection::In ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
  header.cmd_len = static_cast<unsigned char>(request.commandBlock.size());
  header.cmdp = request.commandBlock.data();
  header.mx_sb_len = request.senseLength;
  header.sbp = request.senseLength > 0 ? request.sense.data() : nullptr;
  header.dxfer_len = request.dataLength;
  header.dxferp = request.dataLength > 0 ? request.data : nullptr;
  header.timeout = request.timeoutSeconds * 1000u;
  return header;
}

namespace {

// Fixed format (70h, 71h) holds the key in byte 2, descriptor format (72h, 73h) in byte 1.
std::uint8_t senseKeyOf(const sg_io_hdr& header) {
  if (header.status != kScsiStatusCheckCondition || header.sbp == nullptr || header.sb_len_wr < 3)
    return 0;
  const unsigned char code = header.sbp[0] & 0x7F;
  if (code == 0x70 || code == 0x71) return header.sbp[2] & 0x0F;
  if (code == 0x72 || code == 0x73) return header.sbp[1] & 0x0F;
  return 0;
}

} // namespace

SgOutcome judgeSgOutcome(int ioctlResult, int callErrno, const sg_io_hdr& header) {
  if (ioctlResult < 0) return {false, callErrno != 0 ? callErrno : EIO};
  const unsigned short driver = header.driver_status & kDriverStatusMask;
  if (header.status != kScsiStatusGood || header.host_status != kHostOk ||
      (driver != kDriverOk && driver != kDriverSense))
    return {false, EIO, senseKeyOf(header)};
  return {true, 0};
}

} // namespace tarvix::platform::linux_backend
