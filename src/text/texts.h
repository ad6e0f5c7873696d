// Text lookup by id. Pure and thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::text {

// Language offsets added to an English text id (and the language numbers nLan 1-3 minus one,
// times 1000).
inline constexpr int kEnglish = 0;
inline constexpr int kSimplifiedChinese = 1000;
inline constexpr int kTraditionalChinese = 2000;

// Language-independent texts.
inline constexpr int kAboutItem = 101;
inline constexpr int kIsoLoaded = 102;
inline constexpr int kBinaryLoaded = 103;
inline constexpr int kIsoLoadFailed = 104;
inline constexpr int kBinaryLoadFailed = 105;
inline constexpr int kRamTooSmall = 106;
inline constexpr int kFileSelectedBefore = 107;
inline constexpr int kCopyFileLoadFailed = 108;
inline constexpr int kLanguageEnglish = 109;
inline constexpr int kLanguageSimplified = 110;
inline constexpr int kLanguageTraditional = 111;
inline constexpr int kSettingsLoaded = 131;
inline constexpr int kSettingsSaved = 132;

// The first English text that has a text in each language (5000-5035 label the station window).
inline constexpr int kFirstWindowLabel = 5000;
inline constexpr int kWriteParameterToCard = 5014;
inline constexpr int kWriteParameterToEeprom = 5043;
// Texts added after the shipped tables, above their ids so that neither range moves.
inline constexpr int kCapacityCheckLabel = 5100;
inline constexpr int kFakeCardRealSize = 5101; // "%d": the real size in MiB
inline constexpr int kCapacityCheckFailed = 5102;

// The text stored under `id`, or nothing when the id has no entry.
std::optional<std::string_view> lookup(int id);
// The id of English text `englishId` in the language of `languageOffset` (texts below 5000 are the
// same in every language).
constexpr int localizedId(int englishId, int languageOffset) {
  return englishId < kFirstWindowLabel ? englishId : englishId + languageOffset;
}
// That text, or empty when it has no entry.
std::string localized(int englishId, int languageOffset);
// Every id that has an entry, ascending.
std::vector<int> allIds();

} // namespace tarvix::text
