// Reads a prepared card back the way a customer's computer would, with nothing of the station's
// own code: bytes straight from the farm's image files, the public disks through fsck.fat and
// mtools. Used by the pass oracle to decide whether a port that shows pass holds what it claims.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvix::testing {

inline constexpr std::uint32_t kSectorBytes = 512;

// What a card must hold after a production run with these settings.
struct PreparedCard {
  std::filesystem::path image;      // the first card: areas, public disk, information sector
  std::filesystem::path secondCard; // a two-slot reader's second card, all public disk; or empty
  std::filesystem::path eeprom;     // the controller's EEPROM image; or empty
  // The card's last sector, every byte; its area sizes (bytes 8-15) also say where the areas
  // and the public disk lie.
  std::array<std::uint8_t, kSectorBytes> infoSector{};
  std::string binImage;    // hidden area content from sector 1
  std::string isoImage;    // CD-ROM area content
  std::string eepromImage; // the EEPROM's leading bytes
  std::string label;
  std::vector<std::pair<std::string, std::string>> files; // path on each public disk, content
};

// The identity a check types into the station's settings.
struct TypedIdentity {
  std::string_view serial;
  std::string_view vendor; // manufacturer
  std::string_view product;
  std::string_view diskVendor;
  std::string_view diskProduct;
  std::string_view cdVendor;
  std::string_view cdProduct;
  std::uint8_t maxPower = 0;
  std::uint8_t ledSpeed = 0;
};
// The card's last sector with these area sizes and, when given, the identity laid down as the
// card information block with VID 1234 and PID 5678.
std::array<std::uint8_t, kSectorBytes> expectedInfoSector(std::uint32_t binSectors,
                                                          std::uint32_t cdRomSectors,
                                                          const TypedIdentity* identity);
// The EEPROM model's parameter image of the identity, VID 1234 and PID 5678.
std::string expectedEepromImage(const TypedIdentity& identity);

// Everything that is wrong with the card, one line each; empty when it verifies. `scratch` is a
// folder the reading may fill.
std::vector<std::string> readBack(const PreparedCard& card, const std::filesystem::path& scratch);

} // namespace tarvix::testing
