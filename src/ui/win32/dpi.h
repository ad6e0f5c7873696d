// Per-monitor DPI where the system has it (Windows 10 1703 on), system DPI before; looked up at
// run time so that the station still starts on older systems.
#pragma once

#include <windows.h>

namespace tarvix::ui {

inline void becomeDpiAware() {
  HMODULE user = GetModuleHandleW(L"user32.dll");
  using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  auto set = reinterpret_cast<SetContext>(
      reinterpret_cast<void*>(GetProcAddress(user, "SetProcessDpiAwarenessContext")));
  if (set != nullptr && set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) return;
  SetProcessDPIAware();
}

inline UINT windowDpi(HWND window) {
  HMODULE user = GetModuleHandleW(L"user32.dll");
  using GetDpi = UINT(WINAPI*)(HWND);
  auto get =
      reinterpret_cast<GetDpi>(reinterpret_cast<void*>(GetProcAddress(user, "GetDpiForWindow")));
  if (get != nullptr && window != nullptr) return get(window);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// `value` at 96 DPI, at `dpi`.
inline int scaled(int value, UINT dpi) { return MulDiv(value, static_cast<int>(dpi), 96); }

} // namespace tarvix::ui
