#include "platform/files/label_codec.h"

#include <iconv.h>
#include <langinfo.h>

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

class Converter {
public:
  explicit Converter(const char* toCodeset) : cd_(iconv_open(toCodeset, "UTF-8")) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // One whole character in, its bytes out; false when it has no form in the target set.
  bool convert(std::string_view character, std::string& out) {
    char buffer[16];
    char* in = const_cast<char*>(character.data());
    std::size_t inLeft = character.size();
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    if (iconv(cd_, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0) {
      return false;
    }
    out.assign(buffer, static_cast<std::size_t>(outPtr - buffer));
    return true;
  }

private:
  iconv_t cd_;
};

} // namespace

std::string localeLabelBytes(std::string_view utf8, std::size_t maxBytes) {
  // glibc answers from the calling thread's locale, which uselocale() may set apart from the
  // process's.
  const char* codeset = nl_langinfo(CODESET);
  Converter converter(codeset);
  std::string result;
  if (!converter.ok()) return result;
  std::string bytes;
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t n = sequenceLength(static_cast<unsigned char>(utf8[at]));
    if (n == 0 || at + n > utf8.size()) break;
    if (!converter.convert(utf8.substr(at, n), bytes)) break;
    if (result.size() + bytes.size() > maxBytes) break;
    result += bytes;
    at += n;
  }
  return result;
}

} // namespace tarvix::platform::files
