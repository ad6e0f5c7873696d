// Volume labels in the 8-bit character set of the calling thread's locale (LC_CTYPE; the system's
// ANSI code page on Windows), as the system that mounts the card will read them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tarvix::platform::files {

// A FAT name field: the most a volume label can hold.
inline constexpr std::size_t kLabelFieldBytes = 11;

// `utf8` converted character by character; stops before the first character that would pass
// `maxBytes`, that has no form in the locale's set, or that is not valid UTF-8.
std::string localeLabelBytes(std::string_view utf8, std::size_t maxBytes = kLabelFieldBytes);

// True when `utf8` is held whole: every character has a form in the locale's set and all of them
// fit the label field, so nothing of it is cut.
bool labelHeldWhole(std::string_view utf8);

// One whole UTF-8 character in, its bytes in the target set out; false when it has none there.
using CharacterEncoder = std::function<bool(std::string_view character, std::string& bytes)>;
// The walk each system's localeLabelBytes makes with its own encoder.
std::string encodeLabel(std::string_view utf8, std::size_t maxBytes,
                        const CharacterEncoder& encode);

} // namespace tarvix::platform::files
