// The channel's fixed diagnostic lines, each in one place. Command failures read
// "<name> Error Code ='<code>'"; some successes read "<name> DeviceIoControl bSuccess".
#pragma once

#include <string>
#include <string_view>

namespace tarvix::channel {

// Linux has no read-only branch: the reader is always opened for reading and writing, and the
// line that names that branch is written as the diagnostics tooling expects it.
inline constexpr std::string_view kTraceOpenReadWrite =
    "osver.dwPlatformId == VER_PLATFORM_WIN32_NT";
inline constexpr std::string_view kTraceOpenSuccess = "GetUSBDeviceHandle Success 2";
inline constexpr std::string_view kTraceCloseHandle = "m_hUSBDeviceHandle close handle";

inline constexpr std::string_view kErrorCodePrefix = " Error Code ='";
inline constexpr std::string_view kErrorCodeSuffix = "'";
inline constexpr std::string_view kSuccessSuffix = " DeviceIoControl bSuccess";

inline std::string errorLine(std::string_view commandName, int code) {
  std::string text(commandName);
  text += kErrorCodePrefix;
  text += std::to_string(code);
  text += kErrorCodeSuffix;
  return text;
}

inline std::string successLine(std::string_view commandName) {
  std::string text(commandName);
  text += kSuccessSuffix;
  return text;
}

} // namespace tarvix::channel
