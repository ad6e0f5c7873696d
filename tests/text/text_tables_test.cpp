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
  for (int id : {kCapacityCheckLabel, kFakeCardRealSize, kCapacityCheckFailed}) {
    for (int offset : {kEnglish, kSimplifiedChinese, kTraditionalChinese})
      EXPECT_TRUE(lookup(id + offset)) << id + offset;
  }
  EXPECT_FALSE(lookup(4999));
  EXPECT_FALSE(lookup(5081));
  EXPECT_FALSE(lookup(8000));
}

TEST(TextTables, LanguageIndependentTextsAreExactlyThoseListed) {
  for (int id = 100; id <= 140; ++id) {
    const bool listed = (id >= 101 && id <= 111) || id == 131 || id == 132;
    EXPECT_EQ(lookup(id).has_value(), listed) << id;
  }
  EXPECT_EQ(*lookup(kAboutItem), "關於 Tarvix");
  EXPECT_EQ(*lookup(kCopyFileLoadFailed), "Load \"copy file\" fail......Please check again!!");
  EXPECT_EQ(*lookup(kLanguageSimplified), "简体中文");
  EXPECT_EQ(*lookup(kLanguageTraditional), "繁體中文");
}

// Texts whose exact bytes matter: line breaks, doubled blanks, spelling kept as shipped.
TEST(TextTables, TextsKeepTheirExactBytes) {
  struct Case {
    int id;
    std::string_view text;
  };
  const Case cases[] = {
      {5013, "Write information  (Hex)"}, {5017, "Manfacture :"},
      {5044, "Format \r\nSucess"},        {5045, "Format \r\nFail !!\r\n"},
      {6045, "格式化失败\r\n"},           {7045, "格式化失敗\r\n"},
      {6046, "低阶格式化失\r\n败!!"},     {5048, "Write File\r\n 1 !!"},
      {5055, "Write File\r\n 6 !!"},      {7070, "不是305A\r\n!!"},
      {5080, "Not VALT\r\nDevice!!"},     {7080, "不是VALT\r\n裝置!!"},
      {6013, "资讯写入  (十六进位)"},     {7014, "寫入flash"},
      {6101, "假卡!!\r\n实际 %d MB"},     {7101, "假卡!!\r\n實際 %d MB"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(*lookup(c.id), c.text) << c.id;
}

TEST(Pictures, LookupByRoleAndLanguage) {
  struct Case {
    PictureRole role;
    int english, simplified, traditional;
  };
  const Case cases[] = {
      {PictureRole::Blank, 131, 131, 131},     {PictureRole::Busy, 132, 142, 148},
      {PictureRole::Pass, 133, 143, 149},      {PictureRole::Fail, 134, 144, 150},
      {PictureRole::Scan, 135, 145, 151},      {PictureRole::DefaultPass, 136, 146, 152},
      {PictureRole::ResetFail, 139, 147, 153},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pictureId(c.role, kEnglish), c.english);
    EXPECT_EQ(pictureId(c.role, kSimplifiedChinese), c.simplified);
    EXPECT_EQ(pictureId(c.role, kTraditionalChinese), c.traditional);
    for (int id : {c.english, c.simplified, c.traditional})
      EXPECT_EQ(pictureRole(id), c.role);
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

TEST(Pictures, EveryRoleLooksDifferentWithinALanguage) {
  for (int offset : {kEnglish, kSimplifiedChinese, kTraditionalChinese}) {
    std::vector<std::string_view> captions;
    for (auto role : {PictureRole::Busy, PictureRole::Pass, PictureRole::Fail, PictureRole::Scan,
                      PictureRole::DefaultPass, PictureRole::ResetFail}) {
      const auto look = pictureLook(*pictureId(role, offset));
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

TEST(Language, RowsAndStoredNumbersOutsideTheTablesShowEnglish) {
  EXPECT_EQ(languageOffsetForRow(0), kEnglish);
  EXPECT_EQ(languageOffsetForRow(1), kSimplifiedChinese);
  EXPECT_EQ(languageOffsetForRow(2), kTraditionalChinese);
  EXPECT_EQ(languageOffsetForRow(-1), kEnglish);
  EXPECT_EQ(languageOffsetForRow(3), kEnglish);
  EXPECT_EQ(languageOffsetForNumber(3), kTraditionalChinese);
  EXPECT_EQ(languageOffsetForNumber(4), kEnglish);
  EXPECT_EQ(languageOffsetForNumber(99), kEnglish);
}

} // namespace
} // namespace tarvix::text
