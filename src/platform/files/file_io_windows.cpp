#include "platform/files/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#include <winioctl.h>

namespace tarvix::platform::files {
namespace {

// One ReadFile or WriteFile moves at most this much; longer transfers take several.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

int errnoOf(DWORD error) {
  switch (error) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND: return ENOENT;
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION: return EACCES;
  case ERROR_FILE_EXISTS:
  case ERROR_ALREADY_EXISTS: return EEXIST;
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL: return ENOSPC;
  case ERROR_INVALID_HANDLE: return EBADF;
  case ERROR_NOT_READY:
  case ERROR_DEVICE_NOT_CONNECTED:
  case ERROR_DEV_NOT_EXIST: return ENODEV;
  default: return EIO;
  }
}

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED place{};
  place.Offset = static_cast<DWORD>(offset);
  place.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return place;
}

} // namespace

int openFile(const std::filesystem::path& path, OpenMode mode) {
  int flags = _O_BINARY | _O_NOINHERIT;
  switch (mode) {
  case OpenMode::ReadOnly: flags |= _O_RDONLY; break;
  case OpenMode::ReadWrite: flags |= _O_RDWR; break;
  case OpenMode::CreateNew: flags |= _O_RDWR | _O_CREAT | _O_EXCL; break;
  }
  int fd = -1;
  // Other threads and processes may read and write the file too, as they may on Linux.
  if (::_wsopen_s(&fd, path.c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) return -1;
  return fd;
}

void closeFile(int fd) { ::_close(fd); }

bool setSparseSize(int fd, std::uint64_t bytes) {
  const HANDLE file = handleOf(fd);
  DWORD returned = 0;
  // A file system without sparse files still takes the size, at the cost of the room.
  ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
  if (!::SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end)) {
    errno = errnoOf(::GetLastError());
    return false;
  }
  return true;
}

namespace {

// One call per piece the system moves (at most kLargestTransfer); a call that moves nothing, or
// reads past the end, is the device's end.
template <typename Byte, typename Call>
bool moveAll(int fd, std::uint64_t offset, std::span<Byte> data, Call call) {
  const HANDLE file = handleOf(fd);
  std::size_t done = 0;
  while (done < data.size()) {
    OVERLAPPED place = at(offset + done);
    DWORD moved = 0;
    const auto length = static_cast<DWORD>(std::min(data.size() - done, kLargestTransfer));
    if (!call(file, data.data() + done, length, &moved, &place)) {
      const DWORD error = ::GetLastError();
      errno = error == ERROR_HANDLE_EOF ? EIO : errnoOf(error);
      return false;
    }
    if (moved == 0) {
      errno = EIO;
      return false;
    }
    done += moved;
  }
  return true;
}

} // namespace

bool writeAll(int fd, std::uint64_t offset, std::span<const std::uint8_t> data) {
  return moveAll(fd, offset, data, ::WriteFile);
}

bool readAll(int fd, std::uint64_t offset, std::span<std::uint8_t> data) {
  return moveAll(fd, offset, data, ::ReadFile);
}

std::filesystem::path makeTemporaryFolder(std::string_view prefix) {
  std::error_code ignored;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ignored);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[9];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    const std::filesystem::path folder = base / (std::string(prefix) + suffix);
    // Under the user's own temporary folder, which other accounts cannot read.
    if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

} // namespace tarvix::platform::files
