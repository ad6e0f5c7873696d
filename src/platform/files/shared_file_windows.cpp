#include "platform/files/shared_file.h"

#include <algorithm>

#include <windows.h>

namespace tarvix::platform::files {
namespace {

// Windows byte-range locks are mandatory: a lock over the data would stop this process's own
// reads through another handle. The lock is taken on one byte far beyond any file's end instead.
constexpr DWORD kLockOffsetHigh = 0x40000000;

HANDLE openShared(const std::filesystem::path& path, DWORD access) {
  return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool lock(HANDLE file, DWORD flags) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return ::LockFileEx(file, flags, 0, 1, 0, &at) != 0;
}

bool writeAll(HANDLE file, std::string_view data) {
  while (!data.empty()) {
    DWORD moved = 0;
    const auto length = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
    if (!::WriteFile(file, data.data(), length, &moved, nullptr) || moved == 0) return false;
    data.remove_prefix(moved);
  }
  return true;
}

// A handle that closes itself, and so gives its lock up.
struct Handle {
  HANDLE h;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};

std::uint64_t sizeOf(HANDLE file) {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

} // namespace

ProcessLock::ProcessLock(const std::filesystem::path& path) {
  HANDLE file = openShared(path, GENERIC_READ | GENERIC_WRITE);
  if (file == INVALID_HANDLE_VALUE) return;
  if (!lock(file, LOCKFILE_EXCLUSIVE_LOCK)) {
    ::CloseHandle(file);
    return;
  }
  handle_ = reinterpret_cast<long long>(file);
}

ProcessLock::~ProcessLock() {
  if (held()) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool appendShared(const std::filesystem::path& path, std::string_view header, std::string_view text,
                  bool durable) {
  const Handle file{openShared(path, FILE_APPEND_DATA | GENERIC_READ)};
  if (file.h == INVALID_HANDLE_VALUE || !lock(file.h, LOCKFILE_EXCLUSIVE_LOCK)) return false;
  if (sizeOf(file.h) == 0 && !writeAll(file.h, header)) return false;
  return writeAll(file.h, text) && (!durable || ::FlushFileBuffers(file.h));
}

std::string readShared(const std::filesystem::path& path, std::uint64_t from) {
  const Handle file{::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.h == INVALID_HANDLE_VALUE || !lock(file.h, 0)) return {};
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(from);
  if (!::SetFilePointerEx(file.h, at, nullptr, FILE_BEGIN)) return {};
  std::string content;
  char buffer[65536];
  for (DWORD n = 0; ::ReadFile(file.h, buffer, sizeof buffer, &n, nullptr) && n > 0;)
    content.append(buffer, n);
  return content;
}

bool shrinkShared(const std::filesystem::path& path, std::uint64_t ifSize, std::uint64_t toSize) {
  const Handle file{::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.h == INVALID_HANDLE_VALUE || !lock(file.h, LOCKFILE_EXCLUSIVE_LOCK)) return false;
  if (sizeOf(file.h) != ifSize) return false;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(toSize);
  return ::SetFilePointerEx(file.h, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.h) &&
         ::FlushFileBuffers(file.h);
}

} // namespace tarvix::platform::files
