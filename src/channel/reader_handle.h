// The reader handle holder: one per operation that talks to a reader (a production step, a probe
// pass, a port start), declared by that operation as `m_hUSBDeviceHandle`, opened, used and closed
// by the thread that declared it and never shared. It remembers the backend and the trace sink so
// the commands and its own close need nothing else; the destructor closes whatever is still open,
// so every path out of an operation releases the reader.
#pragma once

#include "platform/clock.h"
#include "platform/reader_access.h"
#include "platform/trace.h"

#include <string_view>

namespace tarvix::channel {

class ReaderHandleHolder {
public:
  ReaderHandleHolder(platform::ReaderAccess& access, platform::TraceSink& trace)
      : access_(access), trace_(trace) {}
  ~ReaderHandleHolder() { close(); }
  ReaderHandleHolder(const ReaderHandleHolder&) = delete;
  ReaderHandleHolder& operator=(const ReaderHandleHolder&) = delete;

  // Closed: never opened, or closed since.
  bool isNull() const { return state_ == State::Null; }
  // Holds a handle that accepts requests.
  bool isOpen() const { return state_ == State::Open; }
  platform::ReaderHandle handle() const { return handle_; }

  // Traces the close line whenever the holder is not null (a failed open included) and releases
  // the handle if there is one.
  void close();
  // Closes whatever is open and leaves the holder failed, as an open that found no reader does:
  // for a reader that is no longer the one the caller may talk to.
  void refuse();

  platform::ReaderAccess& access() const { return access_; }
  platform::TraceSink& trace() const { return trace_; }

private:
  friend bool GetUSBDeviceHandle(ReaderHandleHolder&, std::string_view, platform::Clock&);
  enum class State { Null, Failed, Open };

  platform::ReaderAccess& access_;
  platform::TraceSink& trace_;
  State state_ = State::Null;
  platform::ReaderHandle handle_ = platform::kNoReader;
};

inline constexpr int kOpenAttempts = 20;
inline constexpr std::uint32_t kOpenRetryPauseMs = 500;

// Opens the reader behind `driveName` ("E:"), trying up to kOpenAttempts times with a pause of
// kOpenRetryPauseMs after each failure. A holder that was still open is closed first. On failure
// the holder is left in its failed state: every request on it fails and traces its error line.
[[nodiscard]] bool GetUSBDeviceHandle(ReaderHandleHolder& m_hUSBDeviceHandle,
                                      std::string_view driveName, platform::Clock& clock);

} // namespace tarvix::channel
