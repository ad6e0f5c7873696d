#include "platform/files/file_io.h"

#include <cerrno>

#include <unistd.h>

namespace tarvix::platform::files {

bool writeAll(int fd, std::uint64_t offset, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO; // a device that takes nothing is at its end
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool readAll(int fd, std::uint64_t offset, std::span<std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        ::pread(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

} // namespace tarvix::platform::files
