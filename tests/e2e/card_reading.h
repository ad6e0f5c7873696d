// Reads a prepared card back the way a customer's computer would, with nothing of the station's
// own code: bytes straight from the farm's image files, the public disks through fsck.fat and
// mtools. Used by the pass oracle and the soak to decide whether a port that shows pass holds what
// it claims; with it, what both lay out for a run: the kinds of reader, the settings, used cards.
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

// The kinds of reader a run prepares, and where each keeps what the run lays down.
struct ReaderKind {
  const char* model;
  int icType;
  bool identityOnCard = false; // card information block in the card's last sector
  bool eeprom = false;         // EEPROM parameter image instead
  bool binArea = false;
  bool cdRomArea = false;
  bool twoCards = false;
};
inline constexpr ReaderKind kReaderKinds[] = {
    {.model = "VQ301A", .icType = 0},
    {.model = "VQ301B", .icType = 1},
    {.model = "VQ301C", .icType = 2},
    {.model = "VQ301C-A-1LUN", .icType = 3, .identityOnCard = true, .binArea = true},
    {.model = "VQ301C-A-2LUN",
     .icType = 4,
     .identityOnCard = true,
     .binArea = true,
     .cdRomArea = true},
    {.model = "VQ305A", .icType = 5},
    {.model = "VQ307B2B-1LUN", .icType = 6},
    {.model = "VQ307B2B-2LUN", .icType = 7, .twoCards = true},
    {.model = "VQ348", .icType = 8, .eeprom = true},
};

// What a run's settings turn on. The files they name lie in the run's folder: image.bin,
// image.iso, hello.txt and the folder Docs.
struct RunSteps {
  int icType = 0;
  bool hubMap = true;
  bool llf = false;
  int llfSelect = 0;
  bool rwTest = false;
  int rwCount = 1;
  bool cardInfo = false;
  bool copy = false;
  bool bin = false;
  bool iso = false;
  bool capacity = false;
  std::string label;
  std::string binImage, isoImage; // the images' bytes
};
// Every text at its longest, so that nothing is cut short unseen.
inline constexpr TypedIdentity kIdentity{"000000004242",
                                         "ORACLEMFG",
                                         "ORACLE PRODUCT",
                                         "ORACLEDV",
                                         "ORACLE DISK PROD",
                                         "ORACLECV",
                                         "ORACLE CDROM PRO",
                                         250,
                                         2};
// The station's settings for `steps` with kIdentity, VID 1234 and PID 5678.
std::string settingsText(const RunSteps& steps, const std::filesystem::path& dir);
// What a card of `kind` holds after a run of `steps` that copied `files`; the image paths are the
// caller's to fill in.
PreparedCard expectedCard(const ReaderKind& kind, const RunSteps& steps,
                          std::vector<std::pair<std::string, std::string>> files);
// A used card, as shops sell them: a partition table whose volume starts at sector 63, and
// `oldData` from sector 0 on, so that a structure a run leaves unwritten shows.
void layUsedCard(const std::filesystem::path& image, std::uint32_t sectors, std::string oldData);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// The serial number in the card information block of `image`'s last sector; empty when the
// sector holds no block.
std::string cardSerial(const std::filesystem::path& image);

// Everything that is wrong with the card, one line each; empty when it verifies. `scratch` is a
// folder the reading may fill.
std::vector<std::string> readBack(const PreparedCard& card, const std::filesystem::path& scratch);

} // namespace tarvix::testing
