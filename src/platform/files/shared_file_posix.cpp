#include "platform/files/shared_file.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvix::platform::files {
namespace {

// Opens `path` for reading and writing, made when missing; a new file in a folder that passes its
// group on is writable by that group whatever this process's umask says.
int openShared(const std::filesystem::path& path, int extraFlags) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | extraFlags);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | extraFlags, 0644);
  if (fd < 0) return errno == EEXIST ? ::open(path.c_str(), O_RDWR | O_CLOEXEC | extraFlags) : -1;
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0 && (info.st_mode & S_ISGID) != 0) ::fchmod(fd, 0664);
  return fd;
}

bool lock(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A descriptor that closes itself, and so gives its lock up.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

} // namespace

ProcessLock::ProcessLock(const std::filesystem::path& path) {
  const int fd = openShared(path, 0);
  if (fd < 0) return;
  if (!lock(fd)) {
    ::close(fd);
    return;
  }
  handle_ = fd;
}

ProcessLock::~ProcessLock() {
  if (held()) ::close(static_cast<int>(handle_));
}

bool appendShared(const std::filesystem::path& path, std::string_view header, std::string_view text,
                  bool durable) {
  const Descriptor file{openShared(path, O_APPEND)};
  if (file.fd < 0 || !lock(file.fd)) return false;
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return false;
  if (info.st_size == 0 && !writeAll(file.fd, header)) return false;
  return writeAll(file.fd, text) && (!durable || ::fdatasync(file.fd) == 0);
}

std::string readShared(const std::filesystem::path& path, std::uint64_t from) {
  const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0 || ::flock(file.fd, LOCK_SH) != 0) return {};
  std::string content;
  char buffer[65536];
  for (auto at = static_cast<off_t>(from);;) {
    const ssize_t n = ::pread(file.fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
  return content;
}

bool shrinkShared(const std::filesystem::path& path, std::uint64_t ifSize, std::uint64_t toSize) {
  const Descriptor file{::open(path.c_str(), O_RDWR | O_CLOEXEC)};
  if (file.fd < 0 || !lock(file.fd)) return false;
  struct stat info {};
  if (::fstat(file.fd, &info) != 0 || static_cast<std::uint64_t>(info.st_size) != ifSize)
    return false;
  return ::ftruncate(file.fd, static_cast<off_t>(toSize)) == 0 && ::fdatasync(file.fd) == 0;
}

} // namespace tarvix::platform::files
