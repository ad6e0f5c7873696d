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

namespace {

// One call per piece the system moves; a call that moves nothing is the device's end.
template <typename Byte, typename Call>
bool moveAll(std::uint64_t offset, std::span<Byte> data, Call call) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        call(data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

} // namespace

bool writeAll(int fd, std::uint64_t offset, std::span<const std::uint8_t> data) {
  return moveAll(offset, data, [fd](const std::uint8_t* bytes, std::size_t length, off_t at) {
    return ::pwrite(fd, bytes, length, at);
  });
}

bool readAll(int fd, std::uint64_t offset, std::span<std::uint8_t> data) {
  return moveAll(offset, data, [fd](std::uint8_t* bytes, std::size_t length, off_t at) {
    return ::pread(fd, bytes, length, at);
  });
}

std::filesystem::path makeTemporaryFolder(std::string_view prefix) {
  std::error_code ignored;
  std::string pattern =
      (std::filesystem::temp_directory_path(ignored) / (std::string(prefix) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

} // namespace tarvix::platform::files
