#include "parent_console.h"

#include <cstdio>

#include <windows.h>

namespace tarvix::cli {
namespace {

// A handle the process was given: a console, a file, a pipe or the null device.
bool given(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

void useParentConsole() {
  static bool done = false;
  if (done) return;
  done = true;
  const bool output = given(STD_OUTPUT_HANDLE);
  const bool error = given(STD_ERROR_HANDLE);
  if (output && error) return;
  // Started from Explorer there is no console to take, and nothing shows what is printed.
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!output && std::freopen("CONOUT$", "w", stdout) != nullptr)
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (!error) std::freopen("CONOUT$", "w", stderr);
}

} // namespace tarvix::cli
