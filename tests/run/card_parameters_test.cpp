// The identity layouts byte by byte, from the tables the controller documents, and the serial
// number's successor.
#include "run/card_parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvix::run {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }
// UTF-16LE of an ASCII text, as the string descriptors carry it.
Bytes utf16(std::string_view text) {
  Bytes out;
  for (const char c : text) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(0);
  }
  return out;
}

struct Segment {
  std::size_t at;
  Bytes bytes;
};

// A zeroed sector holding exactly the listed segments.
SectorImage sectorOf(const std::vector<Segment>& segments) {
  SectorImage image{};
  for (const Segment& s : segments) {
    for (std::size_t i = 0; i < s.bytes.size(); ++i)
      image[s.at + i] = s.bytes[i];
  }
  return image;
}

// --- Card information block --------------------------------------------------------------------

std::vector<Segment> defaultCardBlock() {
  return {
      {256, ascii("VQ3050@ATRP")},
      {267, {0x7D, 0x3C, 0x06, 0xA7}},
      {271, {0x1A, 0x03}},
      {273, utf16("000000000001")},
      {297, {0x14, 0x03}},
      {299, utf16(" Generic ")},
      {317, {0x28, 0x03}},
      {319, utf16(" AutoRUN/Partition ")},
      {368, {0x00, 0x80, 0x00, 0x01, 0x1F, 0x00, 0x00, 0x00}},
      {376, ascii("Mass    ")},
      {384, ascii("Storage Device  ")},
      {400, {0x01, 0x00, 0x00, 0x01}},
      {416, {0x05, 0x80, 0x00, 0x33, 0x1F, 0x00, 0x00, 0x00}},
      {424, ascii("USB Mass")},
      {432, ascii("Storage Device  ")},
      {448, {0x01, 0x00, 0x00, 0x01}},
  };
}

TEST(CardInformationBlock, EmptyControlsGiveTheFactoryBlockAndNothingElse) {
  EXPECT_EQ(cardInformationSector({}), sectorOf(defaultCardBlock()));
}

TEST(CardInformationBlock, UsbIdsAreReadOnlyFromFourCharacters) {
  struct Case {
    std::string vid;
    Bytes bytes; // offsets 267, 268
  } cases[] = {
      {"14", {0x7D, 0x3C}},
      {"12345", {0x7D, 0x3C}},
      {"ABCD", {0xCD, 0xAB}},
      {"3G12", {0x03, 0x00}},
      {"xy12", {0x00, 0x00}},
      {"ffff", {0xFF, 0xFF}},
      {"\xC3\xA9"
       "12",
       {0x7D, 0x3C}}, // three characters, four bytes
  };
  for (const Case& c : cases) {
    CardParameters p;
    p.vid = c.vid;
    const SectorImage image = cardInformationSector(p);
    EXPECT_EQ(Bytes(image.begin() + 267, image.begin() + 269), c.bytes) << c.vid;
  }
}

// Every typed field, cut at its slot's end: where each lands and where it stops. (Shorter texts in
// their fields are the pass oracle's reading of every card.)
TEST(CardInformationBlock, OverlongTextsStopAtTheirSlots) {
  CardParameters p;
  p.serial = "1234567890123";                           // thirteen digits
  p.manufacturer = "\xC3\xA9\xE2\x82\xACnufacturerXYZ"; // U+00E9 and U+20AC keep their low byte
  p.product = "ProductNameLongerThanNineteen";
  p.diskVendor = "VendorTooLong";
  p.diskProduct = "ProductLongerThan16";
  p.cdromVendor = "CdVendorLong";
  p.cdromProduct = "CdProductLongerThan16";
  auto expected = defaultCardBlock();
  expected[3] = {273, utf16("123456789012")};
  expected[5] = {299, {0xE9, 0, 0xAC, 0, 'n', 0, 'u', 0, 'f', 0, 'a', 0, 'c', 0, 't', 0, 'u', 0}};
  expected[7] = {319, utf16("ProductNameLongerTh")};
  expected[9] = {376, ascii("VendorTo")};
  expected[10] = {384, ascii("ProductLongerTha")};
  expected[13] = {424, ascii("CdVendor")};
  expected[14] = {432, ascii("CdProductLongerT")};
  EXPECT_EQ(cardInformationSector(p), sectorOf(expected));
}

// --- EEPROM parameter image --------------------------------------------------------------------

std::vector<Segment> defaultEeprom() {
  return {
      {0, ascii("VQA708@V100")},
      {11, {0x3C, 0x7D, 0xA7, 0x08, 0xCB}},
      {16, {12}},
      {17, ascii("USB Read")},
      {26, ascii("er ")},
      {29, {23}},
      {30, ascii("USB Mass Storage Device")},
      {53, {12}},
      {54, ascii("0000000000")},
      {64, ascii("1")},
      {66, ascii("USB Mass")},
      {74, ascii(" Storage Device ")},
      {90, {0xFF}},
      {91, {0xE4, 0x3D}}, // 0x10000 - 0x1BC3
  };
}

TEST(EepromImage, EmptyControlsGiveTheFactoryImage) {
  EXPECT_EQ(eepromParameterImage({}), sectorOf(defaultEeprom()));
}

TEST(EepromImage, TypedTextsCountTheirCharactersAndTheChecksumFollows) {
  CardParameters p;
  p.vid = "1234";
  p.pid = "abcd";
  p.maxPowerGiven = true;
  p.maxPowerValue = 0x132; // only the low byte fits
  p.manufacturer = "Acme";
  p.product = "Reader";
  p.serial = "000000000007";
  p.diskVendor = "ACME";
  p.diskProduct = "Disk";
  p.ledSpeedRow = 2;
  const SectorImage image = eepromParameterImage(p);
  std::vector<Segment> expected = {
      {0, ascii("VQA708@V100")},
      {11, {0x12, 0x34, 0xAB, 0xCD, 0x32}},
      {16, {4}},
      {17, ascii("Acme")},
      {29, {6}},
      {30, ascii("Reader")},
      {53, {12}},
      {54, ascii("000000000007")},
      {66, ascii("ACME")},
      {74, ascii("Disk")},
      {90, {2}},
  };
  SectorImage want = sectorOf(expected);
  EXPECT_EQ(Bytes(image.begin(), image.begin() + 91), Bytes(want.begin(), want.begin() + 91));
  // The checksum makes bytes 0 to 92 add up to zero in sixteen bits.
  unsigned sum = 0;
  for (std::size_t i = 0; i < 91; ++i)
    sum += image[i];
  EXPECT_EQ((sum + (image[91] << 8 | image[92])) & 0xFFFF, 0u);
  EXPECT_TRUE(std::all_of(image.begin() + 93, image.end(), [](auto b) { return b == 0; }));
}

TEST(EepromImage, OverlongTextsStayInsideTheirSlots) {
  CardParameters p;
  p.manufacturer = std::string(20, 'M');
  p.product = std::string(30, 'P');
  p.serial = "1000000000000";
  p.diskVendor = std::string(10, 'V');
  p.diskProduct = std::string(20, 'D');
  const SectorImage image = eepromParameterImage(p);
  EXPECT_EQ(image[16], 12);
  EXPECT_EQ(image[29], 23);
  EXPECT_EQ(image[30], 'P');
  EXPECT_EQ(image[53], 12);
  EXPECT_EQ(Bytes(image.begin() + 54, image.begin() + 66), ascii("100000000000"));
  EXPECT_EQ(Bytes(image.begin() + 66, image.begin() + 74), ascii("VVVVVVVV"));
  EXPECT_EQ(Bytes(image.begin() + 74, image.begin() + 90), Bytes(16, 'D'));
  EXPECT_EQ(image[90], 0xFF);
}

// --- Serial numbers ----------------------------------------------------------------------------

TEST(SerialNumber, NextIsTheLeadingDigitsPlusOneAtLeastTwelveWide) {
  const std::pair<std::string, std::string> cases[] = {
      {"000000000001", "000000000002"},
      {"999999999999", "1000000000000"},
      {"", "000000000001"},
      {"12ab", "000000000013"},
      {"abc", "000000000001"},
      {"0000000000099", "000000000100"},
      {"99999999999999999999999", "9223372036854775807"}, // saturates, never wraps negative
  };
  for (const auto& [serial, next] : cases)
    EXPECT_EQ(nextSerialText(serial), next) << serial;
}

} // namespace
} // namespace tarvix::run
