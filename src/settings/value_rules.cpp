#include "settings/value_rules.h"

#include "platform/files/label_codec.h"

#include <algorithm>
#include <charconv>

namespace tarvix::settings {
namespace {

constexpr int kLabelCharacters = 11;
constexpr std::string_view kForbiddenInLabel = "*?/\\|:<>\"+,;=[]";

bool all(std::string_view text, bool (*allowed)(char)) {
  return std::all_of(text.begin(), text.end(), allowed);
}

} // namespace

int characterCount(std::string_view text) {
  return static_cast<int>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

bool decimalDigits(std::string_view text) {
  return all(text, [](char c) { return c >= '0' && c <= '9'; });
}

bool hexDigits(std::string_view text) {
  return all(text, [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

std::optional<int> numberIn(std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

bool fatLabel(std::string_view label) {
  return characterCount(label) <= kLabelCharacters && label != "." && all(label, [](char c) {
           const auto u = static_cast<unsigned char>(c);
           return u >= 0x20 && u != 0x7F && kForbiddenInLabel.find(c) == std::string_view::npos;
         });
}

bool fatLabelAsWritten(std::string_view label) {
  return fatLabel(label) && platform::files::labelHeldWhole(label);
}

} // namespace tarvix::settings
