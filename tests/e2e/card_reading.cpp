#include "e2e/card_reading.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace tarvix::testing {
namespace {

namespace fs = std::filesystem;
using Problems = std::vector<std::string>;
using namespace std::string_view_literals;

void put(std::uint8_t* at, std::string_view bytes) { std::copy(bytes.begin(), bytes.end(), at); }
void putBigEndian32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}
// USB string descriptors hold UTF-16LE: the low byte at even distance, the high byte zero.
void putWide(std::uint8_t* at, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i)
    at[2 * i] = static_cast<std::uint8_t>(text[i]);
}

std::string readBytes(const fs::path& file, std::uint64_t offset, std::uint64_t length) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(length, '\0');
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(bytes.data(), static_cast<std::streamsize>(length));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

std::uint32_t littleEndian(const std::string& bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i)
    value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// "" when equal, else where the first difference lies.
std::string difference(const std::string& got, const std::string& want) {
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (i >= got.size()) return "ends at byte " + std::to_string(i);
    if (got[i] != want[i]) {
      char text[64];
      std::snprintf(text, sizeof text, "byte %zu is %02X, expected %02X", i,
                    static_cast<std::uint8_t>(got[i]), static_cast<std::uint8_t>(want[i]));
      return text;
    }
  }
  return {};
}

void compare(Problems& problems, const std::string& what, const std::string& got,
             const std::string& want) {
  const std::string wrong = difference(got, want);
  if (!wrong.empty()) problems.push_back(what + ": " + wrong);
}

// One public disk, cut out of its card into a file of its own, as a system would see the LUN.
void readDisk(Problems& problems, const std::string& name, const fs::path& image,
              std::uint64_t firstSector, std::uint64_t sectors, const PreparedCard& card,
              const fs::path& scratch) {
  const std::string bytes = readBytes(image, firstSector * kSectorBytes, sectors * kSectorBytes);
  const fs::path volume = scratch / (name + ".img");
  std::ofstream(volume, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (bytes.size() < kSectorBytes) {
    problems.push_back(name + ": no public disk in the image");
    return;
  }
  // A file system laid for another extent (the layout before the areas moved it) misreads.
  const std::uint32_t total =
      littleEndian(bytes, 19, 2) != 0 ? littleEndian(bytes, 19, 2) : littleEndian(bytes, 32, 4);
  if (total != sectors)
    problems.push_back(name + ": file system counts " + std::to_string(total) + " sectors of " +
                       std::to_string(sectors));
  const Shell fsck = shell("fsck.fat -n '" + volume.string() + "'");
  if (fsck.status != 0) {
    // The first line that is not the tool's banner says what is wrong.
    std::istringstream lines(fsck.output);
    std::string line;
    while (std::getline(lines, line) && line.rfind("fsck.fat ", 0) == 0) {
    }
    problems.push_back(name + ": fsck.fat: " + line);
  }
  const std::string target = "-i '" + volume.string() + "' ::";
  std::string label = shell("mlabel -s " + target).output;
  const std::string says = " Volume label is ";
  label = label.rfind(says, 0) == 0 ? label.substr(says.size()) : "(none)";
  label.erase(label.find_last_not_of(std::string(" \n\0", 3)) + 1);
  if (label != card.label) problems.push_back(name + ": label \"" + label + "\"");
  for (const auto& [path, content] : card.files) {
    const Shell type = shell("mtype " + target + path);
    if (type.status != 0 || type.output != content)
      problems.push_back(name + ": " + path + ": " + firstLine(type.output));
  }
}

} // namespace

std::vector<std::string> readBack(const PreparedCard& card, const fs::path& scratch) {
  Problems problems;
  const std::uint64_t sectors = fs::file_size(card.image) / kSectorBytes;
  const std::uint32_t bin = bigEndian32(card.infoSector.data() + 8);
  const std::uint32_t cdRom = bigEndian32(card.infoSector.data() + 12);
  const std::string info(card.infoSector.begin(), card.infoSector.end());
  compare(problems, "card information sector",
          readBytes(card.image, (sectors - 1) * kSectorBytes, kSectorBytes), info);
  // Sector 0 of the hidden area is the station's to leave as it was; the image starts at 1.
  compare(problems, "binary area", readBytes(card.image, kSectorBytes, card.binImage.size()),
          card.binImage);
  compare(problems, "CD-ROM area",
          readBytes(card.image, std::uint64_t{bin} * kSectorBytes, card.isoImage.size()),
          card.isoImage);
  readDisk(problems, "LUN 1", card.image, std::uint64_t{bin} + cdRom, sectors - 1 - bin - cdRom,
           card, scratch);
  if (!card.secondCard.empty())
    readDisk(problems, "LUN 2", card.secondCard, 0, fs::file_size(card.secondCard) / kSectorBytes,
             card, scratch);
  if (!card.eeprom.empty())
    compare(problems, "EEPROM", readBytes(card.eeprom, 0, card.eepromImage.size()),
            card.eepromImage);
  return problems;
}

std::string cardSerial(const fs::path& image) {
  std::error_code error;
  const std::uint64_t size = fs::file_size(image, error);
  if (error || size < kSectorBytes) return {};
  const std::string sector = readBytes(image, size - kSectorBytes, kSectorBytes);
  if (sector.size() != kSectorBytes || sector.compare(256, 11, "VQ3050@ATRP") != 0) return {};
  std::string serial;
  for (std::size_t i = 0; i < 12 && sector[273 + 2 * i] != '\0'; ++i)
    serial += sector[273 + 2 * i];
  return serial;
}

std::array<std::uint8_t, kSectorBytes> expectedInfoSector(std::uint32_t binSectors,
                                                          std::uint32_t cdRomSectors,
                                                          const TypedIdentity* identity) {
  std::array<std::uint8_t, kSectorBytes> s{};
  std::uint8_t* b = s.data();
  putBigEndian32(b + 8, binSectors);
  putBigEndian32(b + 12, cdRomSectors);
  if (identity == nullptr) return s;
  const TypedIdentity& i = *identity;
  put(b + 256, "VQ3050@ATRP");
  put(b + 267, "\x34\x12\x78\x56"sv); // VID 1234, PID 5678, little-endian
  // The descriptors have fixed lengths; shorter texts leave zeros behind them.
  put(b + 271, "\x1A\x03"sv);
  putWide(b + 273, i.serial);
  put(b + 297, "\x14\x03"sv);
  putWide(b + 299, i.vendor);
  put(b + 317, "\x28\x03"sv);
  putWide(b + 319, i.product);
  put(b + 368, "\x00\x80\x00\x01\x1F\x00\x00\x00"sv);
  put(b + 376, i.diskVendor);
  put(b + 384, i.diskProduct);
  put(b + 400, "\x01\x00\x00\x01"sv);
  put(b + 416, "\x05\x80\x00\x33\x1F\x00\x00\x00"sv);
  put(b + 424, i.cdVendor);
  put(b + 432, i.cdProduct);
  put(b + 448, "\x01\x00\x00\x01"sv);
  return s;
}

std::string expectedEepromImage(const TypedIdentity& i) {
  std::array<std::uint8_t, 93> e{};
  put(e.data(), "VQA708@V100");
  put(e.data() + 11, "\x12\x34\x56\x78"sv); // big-endian here
  e[15] = i.maxPower;
  e[16] = static_cast<std::uint8_t>(i.vendor.size());
  put(e.data() + 17, i.vendor);
  e[29] = static_cast<std::uint8_t>(i.product.size());
  put(e.data() + 30, i.product);
  e[53] = static_cast<std::uint8_t>(i.serial.size());
  put(e.data() + 54, i.serial);
  put(e.data() + 66, i.diskVendor);
  put(e.data() + 74, i.diskProduct);
  e[90] = i.ledSpeed;
  unsigned sum = 0;
  for (int n = 0; n <= 90; ++n)
    sum += e[static_cast<std::size_t>(n)];
  const auto check = static_cast<std::uint16_t>(0x10000 - (sum & 0xFFFF));
  e[91] = static_cast<std::uint8_t>(check >> 8);
  e[92] = static_cast<std::uint8_t>(check);
  return {e.begin(), e.end()};
}

std::string settingsText(const RunSteps& p, const fs::path& dir) {
  const TypedIdentity& i = kIdentity;
  std::ostringstream ini;
  ini << "[Hub Port map]\r\nbCheckHub=" << p.hubMap << "\r\nbCheckNOHub=" << !p.hubMap
      << "\r\n[Test Item]\r\nnICType=" << p.icType << "\r\nbCheckLowFormat=" << p.llf
      << "\r\nnLLFSelect=" << p.llfSelect << "\r\nbCheckFormat=1\r\nszLabel=" << p.label
      << "\r\nbCheckRWTest=" << p.rwTest << "\r\nnRWTestCount=" << p.rwCount
      << "\r\nbCheckCardInforEnable=" << p.cardInfo << "\r\nbCheckCopyFile=" << p.copy
      << "\r\nbCheckAutorun=" << p.iso << "\r\nszISOFilePath=" << (dir / "image.iso").string()
      << "\r\nbCheckBinFile=" << p.bin << "\r\nszBinFilePath=" << (dir / "image.bin").string()
      << "\r\nbCheckCapacity=" << p.capacity
      << "\r\n[CardInfor]\r\nszVID=1234\r\nszPID=5678\r\nszVendor=" << i.vendor
      << "\r\nszProduct=" << i.product << "\r\nszSerialNum=" << i.serial
      << "\r\nbIncrease=0\r\nszDiskVendor=" << i.diskVendor << "\r\nszDiskProduct=" << i.diskProduct
      << "\r\nszCDROMVendor=" << i.cdVendor << "\r\nszCDROMProduct=" << i.cdProduct
      << "\r\nnMaxPower=" << int{i.maxPower} << "\r\nnLEDSpeed=" << int{i.ledSpeed}
      << "\r\n[Copy File]\r\nbCheckFile01=1\r\nszFilePath01=" << (dir / "hello.txt").string()
      << "\r\nbCheckFolder01=1\r\nszFolderPath01=" << (dir / "Docs").string() << "\r\n";
  return ini.str();
}

PreparedCard expectedCard(const ReaderKind& kind, const RunSteps& steps,
                          std::vector<std::pair<std::string, std::string>> files) {
  PreparedCard card;
  const bool bin = kind.binArea && steps.bin;
  const bool iso = kind.cdRomArea && steps.iso;
  // Sector 0 of the hidden area stays the station's; the image follows it, and its last chunk
  // carries zeros up to the area's end.
  const auto binSectors =
      bin ? static_cast<std::uint32_t>((steps.binImage.size() + 512 + 511) / 512) : 0;
  const auto cdRomSectors = iso ? static_cast<std::uint32_t>(steps.isoImage.size() / 512 + 1) : 0;
  card.infoSector = expectedInfoSector(
      binSectors, cdRomSectors, kind.identityOnCard && steps.cardInfo ? &kIdentity : nullptr);
  if (bin)
    card.binImage =
        steps.binImage + std::string((binSectors - 1) * 512 - steps.binImage.size(), '\0');
  if (iso) card.isoImage = steps.isoImage;
  if (kind.eeprom && steps.cardInfo) card.eepromImage = expectedEepromImage(kIdentity);
  card.label = steps.label;
  if (steps.copy) card.files = std::move(files);
  return card;
}

void writeFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void layUsedCard(const fs::path& image, std::uint32_t sectors, std::string used) {
  using namespace std::string_literals;
  std::fill_n(used.begin(), 446, '\0');
  const std::uint32_t volume = sectors - 1 - 63;
  used.replace(446, 16,
               "\x00\xFE\xFF\xFF\x0C\xFE\xFF\xFF\x3F\x00\x00\x00"s + static_cast<char>(volume) +
                   static_cast<char>(volume >> 8) + static_cast<char>(volume >> 16) +
                   static_cast<char>(volume >> 24));
  used.replace(510, 2, "\x55\xAA");
  writeFile(image, used);
  fs::resize_file(image, std::uint64_t{sectors} * kSectorBytes);
}

} // namespace tarvix::testing
