#include "platform/linux/sg/sg_reader_access.h"

#include "platform/linux/sg/rights.h"
#include "platform/linux/sg/sg_frame.h"
#include "platform/linux/sg/usb_attachment.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tarvix::platform::linux_backend {

SgReaderAccess::SgReaderAccess(const DriveResolver& resolver, TraceSink& trace, SgPaths paths)
    : resolver_(resolver), trace_(trace), paths_(std::move(paths)) {}

void SgReaderAccess::checkRightsOnce() {
  std::call_once(rightsChecked_, [this] {
    if (!hasRawIoCapability(paths_.procStatus)) trace_.line(kTraceNoRawIo);
  });
}

void SgReaderAccess::traceOnce(std::string_view text, const std::filesystem::path& device) {
  std::string line(text);
  line += device.string();
  std::lock_guard lock(tracedMutex_);
  if (traced_.insert(line).second) trace_.line(line);
}

ReaderHandle SgReaderAccess::open(std::string_view driveName) {
  checkRightsOnce();
  const auto device = resolver_.blockDevice(driveName);
  if (!device) return kNoReader;

  // Judge the device before opening it for writing; a missing node is an ordinary retry case.
  struct stat before {};
  if (::stat(device->c_str(), &before) != 0) return kNoReader;
  if (!S_ISBLK(before.st_mode)) {
    traceOnce(kTraceNotBlockDevice, *device);
    return kNoReader;
  }
  if (!isUsbAttached(paths_.sysfsRoot, major(before.st_rdev), minor(before.st_rdev))) {
    traceOnce(kTraceNotUsb, *device);
    return kNoReader;
  }

  // O_NONBLOCK lets a reader without a card open, so its identity and card slot can be queried.
  const int fd = ::open(device->c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM) traceOnce(kTraceNoDeviceAccess, *device);
    return kNoReader;
  }
  // The node could have been replaced between the check and the open; the opened device is the
  // one that must be the checked one.
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISBLK(opened.st_mode) || opened.st_rdev != before.st_rdev) {
    ::close(fd);
    return kNoReader;
  }
  return fd;
}

bool SgReaderAccess::send(ReaderHandle handle, PassThroughRequest& request) {
  sg_io_hdr header = makeSgIoHeader(request);
  // The kernel returns sense only into a buffer; a request that asked for none still needs its
  // sense key, so that a UNIT ATTENTION is told from a refusal.
  std::array<unsigned char, kSenseAreaLength> ownSense{};
  if (header.mx_sb_len == 0) {
    header.sbp = ownSense.data();
    header.mx_sb_len = static_cast<unsigned char>(ownSense.size());
  }
  const int result = ::ioctl(static_cast<int>(handle), SG_IO, &header);
  const int callErrno = result < 0 ? errno : 0;
  const SgOutcome outcome = judgeSgOutcome(result, callErrno, header);
  request.errorCode = outcome.errorCode;
  request.senseKey = outcome.senseKey;
  return outcome.ok;
}

void SgReaderAccess::close(ReaderHandle handle) {
  if (handle != kNoReader) ::close(static_cast<int>(handle));
}

} // namespace tarvix::platform::linux_backend
