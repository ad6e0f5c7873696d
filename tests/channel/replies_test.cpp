// Reply decoding from replayed controller answers, and what the query commands leave in the
// caller's hands on success and on failure.
#include "channel/replies.h"
#include "channel/vendor_commands.h"
#include "channel_fixture.h"
#include "support/hex_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace tarvix::channel {
namespace {

using testing::readHexFixture;

class Replies : public OpenChannel {
protected:
  void replay(const std::string& fixture) {
    auto bytes = readHexFixture("channel/" + fixture);
    ASSERT_FALSE(bytes.empty()) << fixture;
    access.replies.push_back({true, 0, std::move(bytes)});
  }
};

TEST_F(Replies, CapacityInMegabytesDoesNotWrapAt32Bits) {
  replay("get_capacity_2tb_4k.hex");
  std::uint32_t count = 0, size = 0;
  ASSERT_TRUE(GetCapacity(holder, count, size));
  EXPECT_EQ(capacityMiB(count, size), (0xFFFFFFFFull * 4096) >> 20);
}

TEST_F(Replies, IdentityReplyFillsASectorImage) {
  replay("get_vidpid_14_vq348.hex");
  std::array<std::uint8_t, 512> image;
  image.fill(0xEE);
  ASSERT_TRUE(GetVIDPID(holder, 0x14, image));
  const UsbIdentity id = decodeIdentity(image);
  EXPECT_EQ(id.vendorId, 0x3C7D);
  EXPECT_EQ(id.productId, 0xA708);
  EXPECT_TRUE(allAre(std::span(image).subspan(16), 0));
}

// A rejected identity or card-type query reads as zeros; a rejected configuration query leaves
// the caller's buffer alone.
TEST_F(Replies, RejectedVidPidQueries) {
  for (const auto& [subCode, left] :
       {std::pair<std::uint8_t, std::uint8_t>{0x14, 0x00}, {0x16, 0x00}, {0x3E, 0xEE}}) {
    access.replies.push_back({false, 5, {0x3C, 0x7D}});
    std::array<std::uint8_t, 512> image;
    image.fill(0xEE);
    EXPECT_FALSE(GetVIDPID(holder, subCode, image));
    EXPECT_TRUE(allAre(image, left)) << int(subCode);
  }
  EXPECT_EQ(trace.lines(), std::vector<std::string>(3, "GetVIDPID Error Code ='5'"));
}

TEST_F(Replies, ConfigurationGivesModelNibbleAndLunKinds) {
  replay("get_vidpid_3e_vq301c_a_2lun.hex");
  std::array<std::uint8_t, 512> image{};
  ASSERT_TRUE(GetVIDPID(holder, 0x3E, image));
  EXPECT_EQ(decodeModelNibble(image), 1);
  EXPECT_EQ(decodeLunKinds(image), (std::array<std::uint8_t, 3>{1, 2, 0}));
}

TEST_F(Replies, CardTypeOfAKnownByteAndAnUnknownOne) {
  replay("get_vidpid_16_sd.hex");
  std::array<std::uint8_t, 512> image{};
  ASSERT_TRUE(GetVIDPID(holder, 0x16, image));
  EXPECT_EQ(decodeCardType(image), CardType::SdMmc);

  // Each byte's type shows in the probe's texts (the discovery tests).
  const std::array<std::uint8_t, 1> unknown{0x80};
  EXPECT_EQ(decodeCardType(unknown), CardType::Unrecognised);
}

TEST_F(Replies, EepromModelNumber) {
  replay("read_eeprom_vq348.hex");
  std::vector<std::uint8_t> eeprom(128);
  ASSERT_TRUE(ReadEEPROM(holder, eeprom));
  EXPECT_EQ(decodeEepromModelNumber(eeprom), "A708");
}

// --- The last card sector -------------------------------------------------------------------

TEST_F(Replies, LastCardBlockReadsTheCardsLastSector) {
  replay("get_capacity_8mb.hex");
  access.replies.push_back({true, 0, std::vector<std::uint8_t>(512, 0x44)});
  std::vector<std::uint8_t> sector(512);
  EXPECT_TRUE(ReadLastCardBlock(holder, sector));
  ASSERT_EQ(access.sentRequests.size(), 2u);
  EXPECT_EQ(access.sentRequests[0].request.commandBlock[7], 0x01) << "card form";
  const auto& read = access.sentRequests[1].request;
  EXPECT_EQ(read.commandBlock[1], 0x12);
  EXPECT_EQ((std::array<std::uint8_t, 4>{read.commandBlock[5], read.commandBlock[6],
                                         read.commandBlock[7], read.commandBlock[8]}),
            (std::array<std::uint8_t, 4>{0x00, 0x00, 0x3F, 0xFF}));
  EXPECT_EQ(read.dataLength, 512u);
  EXPECT_EQ(sector[511], 0x44);
}

// Without a capacity, or with a sector larger than the caller's buffer, nothing is read.
TEST_F(Replies, LastCardBlockReadsNothingItCannotPlace) {
  access.replies.push_back({false, 5, {}});
  access.replies.push_back({true, 0, {0, 0, 0x40, 0, 0, 0, 0x10, 0}}); // 4 KiB sectors
  std::vector<std::uint8_t> sector(512);
  EXPECT_FALSE(ReadLastCardBlock(holder, sector));
  EXPECT_FALSE(ReadLastCardBlock(holder, sector));
  EXPECT_EQ(access.sentRequests.size(), 2u) << "one capacity query each, no read";
}

} // namespace
} // namespace tarvix::channel
