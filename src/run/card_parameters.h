// The reader's identity as the controller keeps it: the card information block (bytes 256-451 of
// the card's last sector) for most models, and the EEPROM parameter image for the EEPROM model;
// and the serial number each reader gets. The layouts are pure functions of CardParameters, so
// they are checked byte by byte without a reader. The parts that show on the window and take a
// serial number run on a worker thread; any number of workers may call them at once.
#pragma once

#include "run/run_options.h"
#include "run/serial_counter.h"
#include "run/step_context.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvix::run {

inline constexpr std::size_t kSectorBytes = 512;
inline constexpr std::size_t kEepromImageLength = 93;

using SectorImage = std::array<std::uint8_t, kSectorBytes>;

// A zeroed sector with the card information block in bytes 256-451.
SectorImage cardInformationSector(const CardParameters& parameters);
// A zeroed 512-byte image with the EEPROM parameter image in its first kEepromImageLength bytes.
SectorImage eepromParameterImage(const CardParameters& parameters);

// The serial number after `serial`: its leading decimal digits plus one, at least twelve digits
// (left-filled with "0"), never cut.
std::string nextSerialText(std::string_view serial);

// The serial number for one reader, from the run's series. With Increase checked the series
// advances and the advanced number is saved first, so no two readers get the same one even
// across a crash, whichever station on this computer takes it; on a production line it comes
// from the line's series (Increase or not), recorded there first. Then the one taken shows in the
// serial edit. Nothing, with a trace line (and, once per run, a message box), when the serial
// number cannot be written whole, the advanced one cannot be saved or the line gives none.
[[nodiscard]] std::optional<std::string> takeSerialNumber(const StepContext& context);

// The builders as the steps use them: the run's card information, one serial number taken per
// call and given in `serial`. Nothing when no serial number could be taken.
[[nodiscard]] std::optional<SectorImage> buildCardInformationSector(const StepContext& context,
                                                                    std::string& serial);
[[nodiscard]] std::optional<SectorImage> buildEepromParameterImage(const StepContext& context,
                                                                   std::string& serial);
// The port's record names `serial` as the one its reader holds: called once the write is read
// back whole, so a number taken but not written is never recorded as used.
void noteSerialWritten(const StepContext& context, const std::string& serial);

} // namespace tarvix::run
