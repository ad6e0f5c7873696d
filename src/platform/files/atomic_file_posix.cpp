#include "platform/files/atomic_file.h"
#include "platform/files/file_io.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvix::platform::files {
namespace {

// Both writers start at the file's beginning.
bool writeAll(int fd, std::string_view content) {
  return files::writeAll(
      fd, 0, std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));
}

bool rewriteInPlace(const std::filesystem::path& path, std::string_view content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // Written over, then cut to length: the file is never empty on the way.
  const bool written = writeAll(fd, content) &&
                       ::ftruncate(fd, static_cast<off_t>(content.size())) == 0 && ::fsync(fd) == 0;
  return ::close(fd) == 0 && written;
}

} // namespace

bool replaceAtomically(const std::filesystem::path& path, std::string_view content) {
  // The temporary file lives in the same folder, so the rename cannot cross file systems.
  std::string temporary = path.string() + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return (errno == EACCES || errno == EPERM) && rewriteInPlace(path, content);
  // A file that existed keeps its permissions; a new one gets the usual rw-r--r--, and rw-rw-r--
  // in a folder that passes its group on, which the group's members share.
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  struct stat old {};
  struct stat shared {};
  const bool groupFolder = ::stat(folder.c_str(), &shared) == 0 && (shared.st_mode & S_ISGID) != 0;
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? old.st_mode & 07777
                      : groupFolder                   ? 0664
                                                      : 0644;
  const bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, content) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename itself reaches the disk only with its folder.
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

} // namespace tarvix::platform::files
