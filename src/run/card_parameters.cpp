#include "run/card_parameters.h"
#include "platform/byte_order.h"

#include "settings/station_file.h"
#include "text/texts.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

namespace tarvix::run {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kSerialTooLong = "serial number: more than 12 digits, not written: ";
constexpr std::string_view kSerialNotSaved = "serial number: the next one cannot be saved in ";
constexpr std::string_view kSerialNotTaken = "serial number: none from the production line: ";
constexpr std::string_view kSerialNotSavedMessage =
    "The serial number counter could not be saved, so no card of this run gets a serial number "
    "until it can be: ";

// Card information block: offsets in the sector, fixed texts and defaults.
namespace card {
constexpr std::string_view kHeader = "VQ3050@ATRP";
constexpr std::size_t kHeaderAt = 256;
constexpr std::size_t kVidAt = 267;
constexpr std::size_t kPidAt = 269;
constexpr std::uint16_t kDefaultVid = 0x3C7D;
constexpr std::uint16_t kDefaultPid = 0xA706;
constexpr std::uint8_t kStringDescriptor = 0x03;
struct Descriptor {
  std::size_t at;       // the two-byte header; the characters follow it
  std::uint8_t length;  // fixed whatever the text's length
  std::size_t maxChars; // (length - 2) / 2
  std::string_view fallback;
};
constexpr Descriptor kSerial{271, 0x1A, 12, "000000000001"};
constexpr Descriptor kManufacturer{297, 0x14, 9, " Generic "};
constexpr Descriptor kProduct{317, 0x28, 19, " AutoRUN/Partition "};
struct Inquiry {
  std::size_t at; // the eight-byte standard header; vendor, product and revision follow
  std::array<std::uint8_t, 8> header;
  std::string_view vendorFallback;
  std::string_view productFallback;
};
constexpr std::size_t kVendorChars = 8;
constexpr std::size_t kProductChars = 16;
constexpr std::array<std::uint8_t, 4> kRevision{0x01, 0x00, 0x00, 0x01};
// Direct-access device, removable, additional length 31.
constexpr Inquiry kDisk{
    368, {0x00, 0x80, 0x00, 0x01, 0x1F, 0x00, 0x00, 0x00}, "Mass    ", "Storage Device  "};
// CD-ROM device, removable.
constexpr Inquiry kCdrom{
    416, {0x05, 0x80, 0x00, 0x33, 0x1F, 0x00, 0x00, 0x00}, "USB Mass", "Storage Device  "};
} // namespace card

// EEPROM parameter image: offsets, fixed texts and defaults.
namespace eeprom {
constexpr std::string_view kHeader = "VQA708@V100";
constexpr std::size_t kVidAt = 11;
constexpr std::size_t kPidAt = 13;
constexpr std::size_t kMaxPowerAt = 15;
constexpr std::uint16_t kDefaultVid = 0x3C7D;
constexpr std::uint16_t kDefaultPid = 0xA708;
constexpr std::uint8_t kDefaultMaxPower = 0xCB;
struct Counted {
  std::size_t at; // the count byte; the characters follow it
  std::size_t maxChars;
};
constexpr Counted kManufacturer{16, 12};
constexpr Counted kProduct{29, 23};
constexpr Counted kSerial{53, 12};
// The controller's factory defaults, byte for byte: the manufacturer default leaves its ninth byte
// zero and the serial default its twelfth, under counts of 12.
constexpr std::array<std::uint8_t, 12> kDefaultManufacturer{'U', 'S', 'B', ' ', 'R', 'e',
                                                            'a', 'd', 0,   'e', 'r', ' '};
constexpr std::string_view kDefaultProduct = "USB Mass Storage Device";
constexpr std::array<std::uint8_t, 12> kDefaultSerial{'0', '0', '0', '0', '0', '0',
                                                      '0', '0', '0', '0', '1', 0};
constexpr std::size_t kDiskVendorAt = 66;
constexpr std::size_t kDiskVendorChars = 8;
constexpr std::string_view kDefaultDiskVendor = "USB Mass";
constexpr std::size_t kDiskProductAt = 74;
constexpr std::size_t kDiskProductChars = 16;
constexpr std::string_view kDefaultDiskProduct = " Storage Device ";
constexpr std::size_t kLedSpeedAt = 90;
constexpr std::uint8_t kNoLedSpeed = 0xFF;
constexpr std::size_t kChecksumAt = 91;
} // namespace eeprom

// One byte per character of a UTF-8 text: its low byte. A byte that starts no valid sequence
// counts as a character of its own, so nothing typed is lost or merged.
Bytes lowBytes(std::string_view text) {
  Bytes out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = lead < 0x80             ? 1
                         : (lead & 0xE0) == 0xC0 ? 2
                         : (lead & 0xF0) == 0xE0 ? 3
                         : (lead & 0xF8) == 0xF0 ? 4
                                                 : 0;
    std::uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : lead & 0x0F;
    if (length == 4) code = lead & 0x07;
    for (std::size_t k = 1; k < length; ++k) {
      const std::size_t at = i + k;
      if (at >= text.size() || (static_cast<std::uint8_t>(text[at]) & 0xC0) != 0x80) {
        length = 0;
        break;
      }
      code = (code << 6) | (static_cast<std::uint8_t>(text[at]) & 0x3F);
    }
    if (length == 0) {
      out.push_back(lead);
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(code & 0xFF));
    i += length;
  }
  return out;
}

Bytes bytesOf(std::string_view ascii) { return Bytes(ascii.begin(), ascii.end()); }

// The characters of `text`, or `fallback` when it is empty; never more than `maxChars`, so a
// text longer than its slot cannot spill into the next field.
Bytes field(std::string_view text, const Bytes& fallback, std::size_t maxChars) {
  Bytes chars = text.empty() ? fallback : lowBytes(text);
  if (chars.size() > maxChars) chars.resize(maxChars);
  return chars;
}

void put(SectorImage& image, std::size_t at, std::span<const std::uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

// A VID or PID edit: exactly four characters, read as hexadecimal up to the first character that
// is not a hex digit; anything else gives the default.
std::uint16_t usbId(std::string_view text, std::uint16_t fallback) {
  const Bytes chars = lowBytes(text);
  if (chars.size() != 4) return fallback;
  std::uint16_t value = 0;
  for (const std::uint8_t c : chars) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) break;
    value = static_cast<std::uint16_t>(value * 16 + digit);
  }
  return value;
}

void putLittleEndian(SectorImage& image, std::size_t at, std::uint16_t value) {
  platform::putLittleEndian(&image[at], value, 2);
}

void putBigEndian(SectorImage& image, std::size_t at, std::uint16_t value) {
  platform::putBigEndian16(&image[at], value);
}

// A USB string descriptor: fixed header, then UTF-16LE characters whose high bytes stay zero.
void putDescriptor(SectorImage& image, const card::Descriptor& d, std::string_view text) {
  image[d.at] = d.length;
  image[d.at + 1] = card::kStringDescriptor;
  const Bytes chars = field(text, bytesOf(d.fallback), d.maxChars);
  for (std::size_t i = 0; i < chars.size(); ++i)
    image[d.at + 2 + 2 * i] = chars[i];
}

void putInquiry(SectorImage& image, const card::Inquiry& q, std::string_view vendor,
                std::string_view product) {
  put(image, q.at, q.header);
  put(image, q.at + 8, field(vendor, bytesOf(q.vendorFallback), card::kVendorChars));
  put(image, q.at + 16, field(product, bytesOf(q.productFallback), card::kProductChars));
  put(image, q.at + 32, card::kRevision);
}

// A count byte and the characters after it.
void putCounted(SectorImage& image, const eeprom::Counted& c, std::string_view text,
                const Bytes& fallback) {
  const Bytes chars = field(text, fallback, c.maxChars);
  // A default may carry a gap byte: the count is the slot's, not the bytes written.
  image[c.at] = static_cast<std::uint8_t>(text.empty() ? fallback.size() : chars.size());
  put(image, c.at + 1, chars);
}

} // namespace

SectorImage cardInformationSector(const CardParameters& p) {
  SectorImage image{};
  put(image, card::kHeaderAt, bytesOf(card::kHeader));
  putLittleEndian(image, card::kVidAt, usbId(p.vid, card::kDefaultVid));
  putLittleEndian(image, card::kPidAt, usbId(p.pid, card::kDefaultPid));
  putDescriptor(image, card::kSerial, p.serial);
  putDescriptor(image, card::kManufacturer, p.manufacturer);
  putDescriptor(image, card::kProduct, p.product);
  putInquiry(image, card::kDisk, p.diskVendor, p.diskProduct);
  putInquiry(image, card::kCdrom, p.cdromVendor, p.cdromProduct);
  return image;
}

SectorImage eepromParameterImage(const CardParameters& p) {
  using namespace eeprom;
  SectorImage image{};
  put(image, 0, bytesOf(kHeader));
  putBigEndian(image, kVidAt, usbId(p.vid, kDefaultVid));
  putBigEndian(image, kPidAt, usbId(p.pid, kDefaultPid));
  image[kMaxPowerAt] =
      p.maxPowerGiven ? static_cast<std::uint8_t>(p.maxPowerValue & 0xFF) : kDefaultMaxPower;
  putCounted(image, kManufacturer, p.manufacturer,
             Bytes(kDefaultManufacturer.begin(), kDefaultManufacturer.end()));
  putCounted(image, kProduct, p.product, bytesOf(kDefaultProduct));
  putCounted(image, kSerial, p.serial, Bytes(kDefaultSerial.begin(), kDefaultSerial.end()));
  put(image, kDiskVendorAt, field(p.diskVendor, bytesOf(kDefaultDiskVendor), kDiskVendorChars));
  put(image, kDiskProductAt, field(p.diskProduct, bytesOf(kDefaultDiskProduct), kDiskProductChars));
  image[kLedSpeedAt] =
      p.ledSpeedRow < 0 ? kNoLedSpeed : static_cast<std::uint8_t>(p.ledSpeedRow & 0xFF);
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < kChecksumAt; ++i)
    sum = static_cast<std::uint16_t>(sum + image[i]);
  putBigEndian(image, kChecksumAt, static_cast<std::uint16_t>(0x10000 - sum));
  return image;
}

std::string nextSerialText(std::string_view serial) {
  // Saturates rather than overflowing on a serial of more than eighteen digits.
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (const char c : serial) {
    if (c < '0' || c > '9') break;
    const int digit = c - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  if (value < kMax) ++value;
  std::string next = std::to_string(value);
  return paddedSerial(std::move(next));
}

std::optional<std::string> takeSerialNumber(const StepContext& context) {
  const bool increase = context.options.increaseSerial;
  const int port = context.outcome != nullptr ? context.outcome->record.port : 0;
  const SerialCounter::Taken taken = context.serials.take(increase, port);
  if (!taken.lineRefusal.empty()) {
    context.platform.trace.line(std::string(kSerialNotTaken) + taken.lineRefusal);
    if (taken.firstFailure)
      context.display->messageBox(text::localizedWith(text::kLineGaveNoSerial,
                                                      context.languageOffset, {taken.lineRefusal}));
    return std::nullopt;
  }
  if (taken.tooLong) {
    context.platform.trace.line(std::string(kSerialTooLong) + context.serials.next());
    return std::nullopt;
  }
  if (taken.notSaved) {
    const std::string file = context.serials.file().string();
    context.platform.trace.line(std::string(kSerialNotSaved) + file);
    if (taken.firstFailure)
      context.display->messageBox(std::string(kSerialNotSavedMessage) +
                                  settings::notSavedText(context.serials.file()));
    return std::nullopt;
  }
  // Shown once the series' lock is released: no worker waits on the window thread holding it.
  if (increase || context.serials.onLine()) context.display->showSerial(*taken.serial);
  return taken.serial;
}

std::optional<SectorImage> buildCardInformationSector(const StepContext& context,
                                                      std::string& serial) {
  CardParameters p = context.options.card;
  auto taken = takeSerialNumber(context);
  if (!taken) return std::nullopt;
  p.serial = serial = std::move(*taken);
  return cardInformationSector(p);
}

std::optional<SectorImage> buildEepromParameterImage(const StepContext& context,
                                                     std::string& serial) {
  CardParameters p = context.options.card;
  auto taken = takeSerialNumber(context);
  if (!taken) return std::nullopt;
  p.serial = serial = std::move(*taken);
  return eepromParameterImage(p);
}

void noteSerialWritten(const StepContext& context, const std::string& serial) {
  if (context.outcome != nullptr) context.outcome->record.serial = serial;
}

} // namespace tarvix::run
