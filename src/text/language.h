// Choosing the language: from the system locale, or from a row of the language list.
// Pure and thread-safe.
#pragma once

#include <string_view>

namespace tarvix::text {

// The language offset for a locale name such as "zh_TW.UTF-8": Taiwan's Chinese gives Traditional
// Chinese, mainland China's gives Simplified Chinese, every other locale (Hong Kong, Singapore and
// Macau Chinese included) English.
int languageOffsetForLocale(std::string_view locale);

// The offset for a row of the language list: rows 0, 1, 2 give 0, 1000, 2000; anything else 0.
int languageOffsetForRow(int row);

// The row of the language list that names the language of `offset`: what the list shows while
// no language has been chosen and the system's decides.
int languageRowForOffset(int offset);

// The offset a stored language number nLan names (1, 2, 3); nothing else names a table and
// shows English.
int languageOffsetForNumber(int nLan);

} // namespace tarvix::text
