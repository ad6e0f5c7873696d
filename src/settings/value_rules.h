// What a stored or typed value may hold to be written as it stands: the checks the settings load
// and the run preparation share. Pure functions, but for the locale's character set.
#pragma once

#include <optional>
#include <string_view>

namespace tarvix::settings {

// Characters, not bytes, of a UTF-8 text.
int characterCount(std::string_view text);
// Only the ASCII characters 0-9, or 0-9, a-f, A-F.
bool decimalDigits(std::string_view text);
bool hexDigits(std::string_view text);
// A decimal number (an optional '-' and digits, nothing else) inside [low, high].
std::optional<int> numberIn(std::string_view text, int low, int high);
// A FAT volume label: at most 11 characters, none of them a control character or one that FAT
// forbids in a label, and not a lone ".".
bool fatLabel(std::string_view label);
// A FAT volume label that the card takes as it stands: fatLabel, and held whole in the 8-bit set
// of this thread's locale, in which the formatter writes it (so it never becomes "NO NAME").
bool fatLabelAsWritten(std::string_view label);

} // namespace tarvix::settings
