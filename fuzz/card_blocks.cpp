// The card information block and the EEPROM parameter image built from whatever the operator
// typed (any bytes, not only valid UTF-8): no text may spill out of its field, the block stays in
// bytes 256-451 so the controller's half of the sector is never touched, and the EEPROM image
// keeps its checksum. The serial number after any text is at least twelve digits.
#include "fuzz_input.h"
#include "run/card_information_sector.h"
#include "run/card_parameters.h"
#include "run/serial_counter.h"

#include <algorithm>

using namespace tarvix;

namespace {

bool zeroFrom(const run::SectorImage& image, std::size_t first, std::size_t end) {
  return std::all_of(image.begin() + static_cast<std::ptrdiff_t>(first),
                     image.begin() + static_cast<std::ptrdiff_t>(end),
                     [](std::uint8_t b) { return b == 0; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  run::CardParameters p;
  p.maxPowerGiven = in.byte() % 2 == 1;
  p.maxPowerValue = static_cast<std::int16_t>(in.byte() << 8 | in.byte());
  p.ledSpeedRow = static_cast<std::int8_t>(in.byte());
  for (std::string* text : {&p.vid, &p.pid, &p.manufacturer, &p.product, &p.serial, &p.diskVendor,
                            &p.diskProduct, &p.cdromVendor, &p.cdromProduct})
    *text = in.field('\0');

  const run::SectorImage card = run::cardInformationSector(p);
  constexpr std::size_t kBlockEnd = 452;
  fuzz::expect(zeroFrom(card, 0, run::kInformationBlockAt), "the controller's half stays zero");
  fuzz::expect(zeroFrom(card, kBlockEnd, card.size()), "nothing past the block");
  fuzz::expect(run::recordedCdromSectors(card) == 0, "no CD-ROM area size recorded");

  const run::SectorImage eeprom = run::eepromParameterImage(p);
  fuzz::expect(zeroFrom(eeprom, run::kEepromImageLength, eeprom.size()), "nothing past the image");
  constexpr std::size_t kChecksumAt = run::kEepromImageLength - 2;
  unsigned sum = 0;
  for (std::size_t i = 0; i < kChecksumAt; ++i)
    sum += eeprom[i];
  sum += static_cast<unsigned>(eeprom[kChecksumAt] << 8 | eeprom[kChecksumAt + 1]);
  fuzz::expect(sum % 0x10000 == 0, "the image sums to zero");

  const std::string next = run::nextSerialText(p.serial);
  fuzz::expect(
      next.size() >= run::kSerialDigits &&
          std::all_of(next.begin(), next.end(), [](char c) { return c >= '0' && c <= '9'; }),
      "the next serial is twelve or more digits");
  return 0;
}
