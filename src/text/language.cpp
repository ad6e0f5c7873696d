#include "text/language.h"

#include "text/texts.h"

namespace tarvix::text {

int languageOffsetForLocale(std::string_view locale) {
  // "language_TERRITORY.codeset@modifier": only language and territory matter.
  const auto end = locale.find_first_of(".@");
  const std::string_view name = locale.substr(0, end);
  if (name == "zh_TW") return kTraditionalChinese;
  if (name == "zh_CN") return kSimplifiedChinese;
  return kEnglish;
}

int languageOffsetForRow(int row) {
  switch (row) {
  case 1: return kSimplifiedChinese;
  case 2: return kTraditionalChinese;
  default: return kEnglish;
  }
}

int languageOffsetForNumber(int nLan) { return languageOffsetForRow(nLan - 1); }

int languageRowForOffset(int offset) {
  switch (offset) {
  case kSimplifiedChinese: return 1;
  case kTraditionalChinese: return 2;
  default: return 0;
  }
}

} // namespace tarvix::text
