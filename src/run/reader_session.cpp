#include "run/reader_session.h"

namespace tarvix::run {

ReaderSession::ReaderSession(const StepContext& context, int driveIndex)
    : channel::ReaderHandleHolder(context.platform.readers, context.platform.trace) {
  if (context.readerStillBound(driveIndex)) {
    const char letter = static_cast<char>('A' + driveIndex);
    // A failed open leaves the session failed already.
    const bool open =
        channel::GetUSBDeviceHandle(*this, station::driveName(letter), context.platform.clock);
    // Another reader may have taken the letter while the open was tried: then the handle is its.
    if (context.readerStillBound(driveIndex)) {
      opened_ = open;
      return;
    }
  }
  refuse();
}

} // namespace tarvix::run
