#include "text/language.h"
#include "text/pictures.h"
#include "text/texts.h"

#include <gtest/gtest.h>

namespace tarvix::text {
namespace {

TEST(TextTables, EveryItemExistsInAllThreeLanguagesExceptTheGaps) {
  for (int id = 5000; id <= 5080; ++id) {
    const bool gap = id == 5053 || id == 5054;
    for (int offset : {kEnglish, kSimplifiedChinese, kTraditionalChinese}) {
      EXPECT_EQ(lookup(id + offset).has_value(), !gap) << id + offset;
    }
  }
  for (int id : {kCapacityCheckLabel, kFakeCardRealSize, kCapacityCheckFailed, kReInitialCardFailed,
                 kLabelNotFat, kSerialTooLong, kNotARegularFile, kImageTooLarge}) {
    for (int offset : {kEnglish, kSimplifiedChinese, kTraditionalChinese})
      EXPECT_TRUE(lookup(id + offset)) << id + offset;
  }
  EXPECT_FALSE(lookup(4999));
  EXPECT_FALSE(lookup(5081));
  EXPECT_FALSE(lookup(8000));
}

// Fields are filled in order, once each: a typed "%s" stays as typed.
TEST(TextTables, ArgumentsFillTheirFieldsInOrder) {
  EXPECT_EQ(localizedWith(kLabelNotFat, kEnglish, {"A%s"}),
            "Disk Label \"A%s\": a FAT volume label cannot hold it, so no run starts.");
  EXPECT_EQ(localizedWith(kNotARegularFile, kTraditionalChinese, {"/dev/zero"}),
            "/dev/zero：不是一般檔案，因此不開始測試");
}

TEST(TextTables, LanguageIndependentTextsAreExactlyThoseListed) {
  for (int id = 100; id <= 140; ++id) {
    const bool listed = (id >= 101 && id <= 111) || id == 131 || id == 132;
    EXPECT_EQ(lookup(id).has_value(), listed) << id;
  }
}

TEST(Pictures, UnknownLanguageOffsetChangesNothingButBlank) {
  for (int offset : {1, 500, 3000, -1000}) {
    EXPECT_EQ(pictureId(PictureRole::Blank, offset), kBlankPicture);
    EXPECT_FALSE(pictureId(PictureRole::Pass, offset)) << offset;
    EXPECT_FALSE(pictureId(PictureRole::ResetFail, offset)) << offset;
  }
  for (int missing : {137, 138, 140, 141})
    EXPECT_FALSE(pictureRole(missing));
}

// Each role has a picture of its own in every language, and the picture tells its role back.
TEST(Pictures, EveryRoleLooksDifferentWithinALanguage) {
  EXPECT_EQ(pictureId(PictureRole::Blank, kSimplifiedChinese), kBlankPicture);
  for (int offset : {kEnglish, kSimplifiedChinese, kTraditionalChinese}) {
    std::vector<std::string_view> captions;
    for (auto role : {PictureRole::Busy, PictureRole::Pass, PictureRole::Fail, PictureRole::Scan,
                      PictureRole::DefaultPass, PictureRole::ResetFail}) {
      const auto id = pictureId(role, offset);
      ASSERT_TRUE(id);
      EXPECT_EQ(pictureRole(*id), role) << *id;
      const auto look = pictureLook(*id);
      ASSERT_TRUE(look);
      EXPECT_FALSE(look->caption.empty());
      EXPECT_EQ(std::count(captions.begin(), captions.end(), look->caption), 0) << look->caption;
      captions.push_back(look->caption);
    }
  }
}

TEST(Language, LocaleDecidesTheSystemLanguage) {
  struct Case {
    const char* locale;
    int offset;
  };
  const Case cases[] = {
      {"zh_TW.UTF-8", kTraditionalChinese},
      {"zh_TW", kTraditionalChinese},
      {"zh_TW.Big5@stroke", kTraditionalChinese},
      {"zh_CN.UTF-8", kSimplifiedChinese},
      {"zh_CN.GB18030", kSimplifiedChinese},
      {"zh_HK.UTF-8", kEnglish},
      {"zh_SG.UTF-8", kEnglish},
      {"zh_MO", kEnglish},
      {"zh", kEnglish},
      {"ja_JP.UTF-8", kEnglish},
      {"de_DE@euro", kEnglish},
      {"en_US.UTF-8", kEnglish},
      {"C", kEnglish},
      {"", kEnglish},
  };
  for (const Case& c : cases)
    EXPECT_EQ(languageOffsetForLocale(c.locale), c.offset) << c.locale;
}

} // namespace
} // namespace tarvix::text
