// Files that several station processes share on one computer, perhaps under different operator
// accounts: the serial number counter's lock, the production log, the line's spool. Every change
// is made under an exclusive lock that other processes see (not only other threads), and a file
// made in a folder that passes its group on (set-group-ID, as the package makes the station's
// folders) is made writable by that group, so the next operator can write it too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvix::platform::files {

// An exclusive lock held on `path` (made when missing) from construction until destruction,
// waiting for any other holder in this process or another. Not held when the file cannot be
// opened. One thread owns it.
class ProcessLock {
public:
  explicit ProcessLock(const std::filesystem::path& path);
  ~ProcessLock();
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;

  bool held() const { return handle_ != kNone; }

private:
  static constexpr long long kNone = -1;
  long long handle_ = kNone; // a descriptor, or a Windows handle
};

// Appends `text` to `path` under an exclusive lock of that file, with `header` first when the
// file is empty; makes the file when missing. With `durable`, on the disk before it returns. False
// when the file cannot be opened or written. Any thread.
bool appendShared(const std::filesystem::path& path, std::string_view header, std::string_view text,
                  bool durable);

// The whole of `path` from byte `from`, read under its lock; empty when missing or shorter.
std::string readShared(const std::filesystem::path& path, std::uint64_t from);
// Under the lock: when `path` is `ifSize` bytes long, cuts it to `toSize`; so a reader that has
// handled all it read empties the file only when nothing was appended since. False when the file
// was another size or could not be cut.
bool shrinkShared(const std::filesystem::path& path, std::uint64_t ifSize, std::uint64_t toSize);

} // namespace tarvix::platform::files
