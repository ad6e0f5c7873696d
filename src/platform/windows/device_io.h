// What the Windows backend's parts share: opening a drive letter's device, and the guard that
// keeps every disk but a USB one from being opened for writing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <windows.h>
#include <winioctl.h>

namespace tarvix::platform::windows {

// Closes a handle when it goes out of scope.
class OwnedHandle {
public:
  explicit OwnedHandle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~OwnedHandle() { reset(); }
  OwnedHandle(OwnedHandle&& other) noexcept : h_(other.release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  void reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (*this) ::CloseHandle(h_);
    h_ = h;
  }

private:
  HANDLE h_;
};

// "E:" (or "E") to its letter in upper case; 0 when it names no drive.
char driveLetter(std::string_view driveName);
// \\.\E: opened with `access` (0 to query only), shared for reading and writing.
OwnedHandle openDevice(const std::wstring& path, DWORD access);
std::wstring letterDevicePath(char letter);

struct StorageNumber {
  DEVICE_TYPE type = 0;
  std::uint32_t number = 0;
};
std::optional<StorageNumber> storageNumber(HANDLE device);

// True when the device behind `letter` may be opened for writing: attached through USB, and not
// the disk the system runs from.
bool mayWrite(char letter);

} // namespace tarvix::platform::windows
