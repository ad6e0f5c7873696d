// Access to a card reader's logical unit: open it by drive name, send one pass-through request,
// close it. The caller owns each request and every buffer it points at; the backend only borrows
// them for the length of one send. Backends are thread-safe across handles (twenty-one workers
// send at once); one handle is used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tarvix::platform {

// A backend's token for an open reader; kNoReader when an open failed.
using ReaderHandle = std::int64_t;
inline constexpr ReaderHandle kNoReader = -1;

inline constexpr std::size_t kCommandBlockLength = 16;
inline constexpr std::size_t kSenseAreaLength = 32;

// Buffered: `data` is zeroed before a read (an area the request owner copies out, or the
// destination itself), so bytes the device did not return read as zero. Direct: `data` is the
// caller's own buffer, used in place. The Windows backend frames each request so (the data inside
// its frame, or pointed at); SG_IO moves the same bytes either way.
enum class FrameVariant : std::uint8_t { Buffered, Direct };

// Out also covers requests that move no data (dataLength 0).
enum class DataDirection : std::uint8_t { Out, In };

struct PassThroughRequest {
  std::array<std::uint8_t, kCommandBlockLength> commandBlock{};
  FrameVariant frame = FrameVariant::Buffered;
  DataDirection direction = DataDirection::Out;
  std::uint32_t dataLength = 0;
  // dataLength bytes; not owned. Backends never write through it for Out requests.
  std::uint8_t* data = nullptr;
  std::uint8_t senseLength = 0; // 0 or kSenseAreaLength
  std::array<std::uint8_t, kSenseAreaLength> sense{};
  std::uint32_t timeoutSeconds = 2;
  // Set by send: 0 on success, otherwise an errno value (EIO when the device refused the command).
  int errorCode = 0;
  // Set by send: the sense key of a CHECK CONDITION answer; 0 for any other outcome. SG_IO hands
  // the sense over whether or not a sense area was asked for, Windows only when it was.
  std::uint8_t senseKey = 0;
};

class ReaderAccess {
public:
  virtual ~ReaderAccess() = default;
  // One attempt to open the reader behind `driveName` ("E:") for reading and writing. Returns
  // kNoReader when it cannot be opened; the caller decides whether to try again.
  virtual ReaderHandle open(std::string_view driveName) = 0;
  // Sends one request and waits for it. True only when the device carried the command out with
  // GOOD status; otherwise request.errorCode says why.
  virtual bool send(ReaderHandle handle, PassThroughRequest& request) = 0;
  // Releases a handle that open returned (never kNoReader).
  virtual void close(ReaderHandle handle) = 0;
};

} // namespace tarvix::platform
