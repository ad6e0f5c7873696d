// Text lookup by id. Pure and thread-safe.
#pragma once

#include "text/text_ids.h"

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

// The first English text that has a text in each language (5000-5035 label the station window).
inline constexpr int kFirstWindowLabel = 5000;

// The text stored under `id`, or nothing when the id has no entry.
std::optional<std::string_view> lookup(int id);
// The id of English text `englishId` in the language of `languageOffset` (texts below 5000 are the
// same in every language).
constexpr int localizedId(int englishId, int languageOffset) {
  return englishId < kFirstWindowLabel ? englishId : englishId + languageOffset;
}
// That text, or empty when it has no entry.
std::string localized(int englishId, int languageOffset);
// That text with each "%s" field, in order, replaced by the next of `arguments`.
inline constexpr std::string_view kArgumentField = "%s";
std::string localizedWith(int englishId, int languageOffset,
                          const std::vector<std::string>& arguments);
// Every id that has an entry, ascending.
std::vector<int> allIds();

} // namespace tarvix::text
