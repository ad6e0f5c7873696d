#include "platform/files/label_codec.h"

#include <windows.h>

namespace tarvix::platform::files {
namespace {

// One whole character in, its bytes in the system's ANSI code page out; false when it has no form
// there. No best-fit mapping: a character the code page lacks is not replaced by a look-alike.
bool toAnsi(std::string_view character, std::string& out) {
  wchar_t wide[2];
  const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, character.data(),
                                          static_cast<int>(character.size()), wide, 2);
  if (units <= 0) return false;
  char bytes[8];
  BOOL replaced = FALSE;
  const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, units, bytes,
                                      sizeof bytes, nullptr, &replaced);
  if (n <= 0 || replaced) return false;
  out.assign(bytes, static_cast<std::size_t>(n));
  return true;
}

} // namespace

std::string localeLabelBytes(std::string_view utf8, std::size_t maxBytes) {
  return encodeLabel(utf8, maxBytes, toAnsi);
}

} // namespace tarvix::platform::files
