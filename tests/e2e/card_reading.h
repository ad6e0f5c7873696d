// Reads a prepared card back the way a customer's computer would, with nothing of the station's
// own code: bytes straight from the farm's image files, the public disks through fsck.fat and
// mtools. Used by the pass oracle to decide whether a port that shows pass holds what it claims.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
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

// Everything that is wrong with the card, one line each; empty when it verifies. `scratch` is a
// folder the reading may fill.
std::vector<std::string> readBack(const PreparedCard& card, const std::filesystem::path& scratch);

} // namespace tarvix::testing
