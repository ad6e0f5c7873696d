#include "platform/files/label_codec.h"

#include <iconv.h>
#include <langinfo.h>

namespace tarvix::platform::files {
namespace {

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
  if (!converter.ok()) return {};
  return encodeLabel(utf8, maxBytes, [&converter](std::string_view character, std::string& bytes) {
    return converter.convert(character, bytes);
  });
}

} // namespace tarvix::platform::files
