// The production steps a slot worker runs, in the order it runs them. Every step takes the worker's
// context and the drive index of the LUN it works on (and, where it needs them, the port record
// and the LUN number 1-4). Each returns true when it passed or its option is off, and on failure
// has already shown its own message on the slot's result line. All run on the port's worker thread,
// and use the reader through a ReaderSession of their own, closed on every path.
#pragma once

#include "run/step_context.h"
#include "run/volume_format_step.h"

#include <cstdint>

namespace tarvix::run {

// Blocks stamped with their own sector numbers, spread over one card LUN, read back and the LUN's
// content restored: a card that holds less than it reports fails, showing its real size (Capacity
// Check). Moves at most 24 MiB whatever the card's size.
[[nodiscard]] bool capacityCheckStep(const StepContext& context, int driveIndex);
// Low-level format of one card LUN over the chosen extent (LLF 1106, extent row llfSelect).
[[nodiscard]] bool lowLevelFormatStep(const StepContext& context, int driveIndex,
                                      station::PortRecord& port, int lun);
// The card information block into the card's last sector, read back and compared (1092, every
// model but the EEPROM one).
[[nodiscard]] bool cardInformationStep(const StepContext& context, int driveIndex);
// The EEPROM parameter image into the controller's EEPROM (1092, the EEPROM model).
[[nodiscard]] bool eepromParameterStep(const StepContext& context, int driveIndex,
                                       station::PortRecord& port);
// Read/write test of one card LUN, rwTestCount rounds (1110).
[[nodiscard]] bool readWriteTestStep(const StepContext& context, int driveIndex,
                                     station::PortRecord& port, int lun);
// The hidden binary and CD-ROM area sizes set and the card re-initialised (1091 or 1090).
[[nodiscard]] bool partitionSizeStep(const StepContext& context, int driveIndex);
// The CD-ROM image into the CD-ROM area, read back and compared (1090).
[[nodiscard]] bool cdromAreaStep(const StepContext& context, int driveIndex,
                                 station::PortRecord& port);
// The binary image into the hidden area, read back and compared (1091).
[[nodiscard]] bool binaryAreaStep(const StepContext& context, int driveIndex,
                                  station::PortRecord& port);
// The chosen files and folder copied onto one card LUN's volume (1093).
[[nodiscard]] bool copyFilesStep(const StepContext& context, int driveIndex,
                                 station::PortRecord& port, int lun);

// Reset to Default Value: the controller back to its factory layout (every model but the EEPROM
// one), and the EEPROM model's factory parameters.
[[nodiscard]] bool controllerResetStep(const StepContext& context, int driveIndex,
                                       station::PortRecord& port);
[[nodiscard]] bool eepromFactoryDefaultStep(const StepContext& context, int driveIndex,
                                            station::PortRecord& port);

// The size in MiB of the CD-ROM area the card information sector records, for a LUN that is
// shown only through it; 0 when it cannot be read.
[[nodiscard]] std::uint64_t cardCheckMiB(const StepContext& context, int driveIndex);

} // namespace tarvix::run
