#include "text/pictures.h"

#include "text/texts.h"

#include <array>

namespace tarvix::text {
namespace {

constexpr std::uint32_t kBlue = 0x0050E0;
constexpr std::uint32_t kGreen = 0x00A020;
constexpr std::uint32_t kRed = 0xE00000;
constexpr std::uint32_t kYellow = 0xE0B000;

struct PictureRow {
  PictureRole role;
  std::string_view name;
  std::array<int, 3> ids; // English, Simplified, Traditional
  std::uint32_t rgb;
  std::array<std::string_view, 3> captions;
};

constexpr PictureRow kPictures[] = {
    {PictureRole::Blank,
     "blank",
     {kBlankPicture, kBlankPicture, kBlankPicture},
     0xFFFFFF,
     {"", "", ""}},
    {PictureRole::Busy, "busy", {132, 142, 148}, kBlue, {"Busy !!", "设备忙碌", "裝置忙碌"}},
    {PictureRole::Pass, "pass", {133, 143, 149}, kGreen, {"Pass", "测试成功", "測試成功"}},
    {PictureRole::Fail, "fail", {134, 144, 150}, kRed, {"Fail", "测试失败", "測試失敗"}},
    {PictureRole::Scan, "scan", {135, 145, 151}, kYellow, {"Scan", "扫描装置", "掃描裝置"}},
    {PictureRole::DefaultPass,
     "default-pass",
     {136, 146, 152},
     kGreen,
     {"Default Pass", "重置成功", "重置成功"}},
    {PictureRole::ResetFail,
     "reset-fail",
     {139, 147, 153},
     kRed,
     {"Reset Fail", "重置失败", "重置失敗"}},
};

const PictureRow& rowOf(PictureRole role) { return kPictures[static_cast<int>(role)]; }

std::optional<std::size_t> languageIndex(int languageOffset) {
  switch (languageOffset) {
  case kEnglish: return 0;
  case kSimplifiedChinese: return 1;
  case kTraditionalChinese: return 2;
  default: return std::nullopt;
  }
}

} // namespace

std::optional<int> pictureId(PictureRole role, int languageOffset) {
  if (role == PictureRole::Blank) return kBlankPicture;
  const auto language = languageIndex(languageOffset);
  if (!language) return std::nullopt;
  return rowOf(role).ids[*language];
}

std::optional<PictureRole> pictureRole(int id) {
  for (const PictureRow& row : kPictures) {
    for (int candidate : row.ids) {
      if (candidate == id) return row.role;
    }
  }
  return std::nullopt;
}

std::string_view roleName(PictureRole role) { return rowOf(role).name; }

std::optional<PictureLook> pictureLook(int id) {
  for (const PictureRow& row : kPictures) {
    for (std::size_t language = 0; language < row.ids.size(); ++language) {
      if (row.ids[language] == id) return PictureLook{row.captions[language], row.rgb};
    }
  }
  return std::nullopt;
}

} // namespace tarvix::text
