#include "platform/files/file_io.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace tarvix::platform::files {

int openFile(const std::filesystem::path& path, OpenMode mode) {
  switch (mode) {
  case OpenMode::ReadOnly: return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  case OpenMode::ReadWrite: return ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  case OpenMode::CreateNew:
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  }
  errno = EINVAL;
  return -1;
}

void closeFile(int fd) { ::close(fd); }

bool setSparseSize(int fd, std::uint64_t bytes) {
  return ::ftruncate(fd, static_cast<off_t>(bytes)) == 0;
}

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

std::filesystem::path makeTemporaryFolder(std::string_view prefix) {
  std::error_code ignored;
  std::string pattern =
      (std::filesystem::temp_directory_path(ignored) / (std::string(prefix) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

} // namespace tarvix::platform::files
