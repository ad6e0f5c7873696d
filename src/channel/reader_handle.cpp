#include "channel/reader_handle.h"

#include "channel/trace_lines.h"

namespace tarvix::channel {

void ReaderHandleHolder::close() {
  if (state_ == State::Null) return;
  trace_.line(kTraceCloseHandle);
  // A failed open holds no handle, so there is nothing to release.
  if (state_ == State::Open) access_.close(handle_);
  state_ = State::Null;
  handle_ = platform::kNoReader;
}

void ReaderHandleHolder::refuse() {
  close();
  state_ = State::Failed;
}

bool GetUSBDeviceHandle(ReaderHandleHolder& m_hUSBDeviceHandle, std::string_view driveName,
                        platform::Clock& clock) {
  m_hUSBDeviceHandle.close();
  m_hUSBDeviceHandle.trace_.line(kTraceOpenReadWrite);
  platform::ReaderHandle handle = platform::kNoReader;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    handle = m_hUSBDeviceHandle.access_.open(driveName);
    if (handle != platform::kNoReader) {
      m_hUSBDeviceHandle.trace_.line(kTraceOpenSuccess);
      break;
    }
    // The pause follows the last attempt too, so a reader that never appears costs the same
    // time on every backend.
    clock.sleepMs(kOpenRetryPauseMs);
  }
  m_hUSBDeviceHandle.handle_ = handle;
  m_hUSBDeviceHandle.state_ = handle != platform::kNoReader ? ReaderHandleHolder::State::Open
                                                            : ReaderHandleHolder::State::Failed;
  return m_hUSBDeviceHandle.isOpen();
}

} // namespace tarvix::channel
