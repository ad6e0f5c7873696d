// Status pictures of the port boxes: one set per language, looked up by role and language offset.
// Pure and thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvix::text {

enum class PictureRole { Blank, Busy, Pass, Fail, Scan, DefaultPass, ResetFail };

inline constexpr int kBlankPicture = 131;
inline constexpr int kLogoPicture = 129;
inline constexpr int kPictureWidth = 120;
inline constexpr int kPictureHeight = 20;

// The picture id of `role` in the language of `languageOffset`. Offsets other than 0, 1000 and
// 2000 give nothing (the caller leaves the picture as it is), except for the blank picture,
// which is the same in every language.
std::optional<int> pictureId(PictureRole role, int languageOffset);

// The role a picture id shows; nothing for an id that is no status picture.
std::optional<PictureRole> pictureRole(int pictureId);

// Stable lower-case name of a role, as reports write it ("default-pass", ...).
std::string_view roleName(PictureRole role);

// How a status picture looks: a coloured word or phrase on white. The caption is empty for blank.
struct PictureLook {
  std::string_view caption;
  std::uint32_t rgb; // 0xRRGGBB
};
std::optional<PictureLook> pictureLook(int pictureId);

} // namespace tarvix::text
