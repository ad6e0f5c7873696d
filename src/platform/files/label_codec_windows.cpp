#include "platform/files/label_codec.h"

#include <windows.h>

namespace tarvix::platform::files {
namespace {

std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

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
  std::string result;
  std::string bytes;
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t n = sequenceLength(static_cast<unsigned char>(utf8[at]));
    if (n == 0 || at + n > utf8.size()) break;
    if (!toAnsi(utf8.substr(at, n), bytes)) break;
    if (result.size() + bytes.size() > maxBytes) break;
    result += bytes;
    at += n;
  }
  return result;
}

} // namespace tarvix::platform::files
