#include "platform/files/label_codec.h"

#include <limits>

namespace tarvix::platform::files {
namespace {

// Length of the UTF-8 sequence that `lead` starts; 0 for a byte that cannot start one.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

} // namespace

bool labelHeldWhole(std::string_view utf8) {
  // Character by character, so that one the set lacks is seen rather than cut off.
  std::size_t bytes = 0;
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t n = sequenceLength(static_cast<unsigned char>(utf8[at]));
    if (n == 0 || at + n > utf8.size()) return false;
    const std::size_t held =
        localeLabelBytes(utf8.substr(at, n), std::numeric_limits<std::size_t>::max()).size();
    if (held == 0) return false;
    bytes += held;
    at += n;
  }
  return bytes <= kLabelFieldBytes;
}

std::string encodeLabel(std::string_view utf8, std::size_t maxBytes,
                        const CharacterEncoder& encode) {
  std::string result;
  std::string bytes;
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t n = sequenceLength(static_cast<unsigned char>(utf8[at]));
    if (n == 0 || at + n > utf8.size()) break;
    if (!encode(utf8.substr(at, n), bytes)) break;
    if (result.size() + bytes.size() > maxBytes) break;
    result += bytes;
    at += n;
  }
  return result;
}

} // namespace tarvix::platform::files
