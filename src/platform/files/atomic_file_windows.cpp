#include "platform/files/atomic_file.h"

#include <algorithm>
#include <random>
#include <string>

#include <windows.h>

namespace tarvix::platform::files {
namespace {

bool writeAll(HANDLE file, std::string_view content) {
  bool written = true;
  while (written && !content.empty()) {
    DWORD moved = 0;
    const auto length = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 30));
    written = ::WriteFile(file, content.data(), length, &moved, nullptr) && moved > 0;
    content.remove_prefix(moved);
  }
  return written;
}

bool rewriteInPlace(const std::filesystem::path& path, std::string_view content) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Written over, then cut to length: the file is never empty on the way.
  const bool written = writeAll(file, content) && ::SetEndOfFile(file) && ::FlushFileBuffers(file);
  return ::CloseHandle(file) && written;
}

} // namespace

bool replaceAtomically(const std::filesystem::path& path, std::string_view content) {
  // The temporary file lives in the same folder, so the move cannot cross volumes.
  std::random_device random;
  std::filesystem::path temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = path;
    temporary += L"." + std::to_wstring(random()) + L".tmp";
    file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED)
      return rewriteInPlace(path, content);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = writeAll(file, content) && ::FlushFileBuffers(file);
  const bool closed = ::CloseHandle(file);
  // Write-through: the move itself is on the disk when it returns.
  if (!written || !closed ||
      !::MoveFileExW(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

} // namespace tarvix::platform::files
