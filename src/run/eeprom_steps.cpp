// The EEPROM model's identity: the parameter image written to the controller's EEPROM and read
// back, and the factory default that clears it. Run on the port's worker thread.
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/card_parameters.h"
#include "run/reader_session.h"
#include "run/steps.h"

#include <algorithm>
#include <span>

namespace tarvix::run {
namespace {

// The factory default clears this much of the EEPROM; the progress bar marks its three stages.
constexpr std::size_t kFactoryClearedBytes = 128;
constexpr int kProgressOpened = 10;
constexpr int kProgressWritten = 120;
constexpr int kProgressReadBack = 180;

bool validSlot(int slot) { return slot >= 1 && slot <= station::kSlotCount; }

} // namespace

bool eepromParameterStep(const StepContext& context, int driveIndex, station::PortRecord& port) {
  if (!context.options.writeParameter) return true;
  const StepDrive record = context.drive(driveIndex);
  const int slot = record.slot;
  if (!validSlot(slot)) return false;
  // The image is built, and a serial number taken, before the written flag is looked at.
  std::string serial;
  const std::optional<SectorImage> image = buildEepromParameterImage(context, serial);
  if (!image) {
    context.showText(slot, text::kEepromFailed);
    return false;
  }
  if (port.cardInfoWritten) {
    context.showText(slot, text::kEepromPassed);
    return true;
  }

  ReaderSession m_hUSBDeviceHandle(context, driveIndex);
  SectorImage readBack{};
  // Both images are zero beyond the parameter image, so the whole of them is compared.
  const bool passed =
      channel::WriteEEPROM(m_hUSBDeviceHandle, std::span(*image).first(kEepromImageLength)) &&
      channel::ReadEEPROM(m_hUSBDeviceHandle, std::span(readBack).first(kEepromImageLength)) &&
      readBack == *image;
  if (!passed) {
    context.showText(slot, text::kEepromFailed);
    return false;
  }
  noteSerialWritten(context, serial);
  context.showText(slot, text::kEepromPassed);
  return true;
}

bool eepromFactoryDefaultStep(const StepContext& context, int driveIndex,
                              station::PortRecord& port) {
  const int portNumber = port.portNumber;
  const SectorImage cleared{};
  SectorImage readBack{};

  ReaderSession m_hUSBDeviceHandle(context, driveIndex);
  context.display->setProgress(portNumber, kProgressOpened);
  if (!channel::WriteEEPROM(m_hUSBDeviceHandle, std::span(cleared).first(kFactoryClearedBytes))) {
    return false;
  }
  context.display->setProgress(portNumber, kProgressWritten);
  if (!channel::ReadEEPROM(m_hUSBDeviceHandle, std::span(readBack).first(kFactoryClearedBytes))) {
    return false;
  }
  context.display->setProgress(portNumber, kProgressReadBack);
  const bool cleared128 = std::all_of(readBack.begin(), readBack.begin() + kFactoryClearedBytes,
                                      [](std::uint8_t b) { return b == 0; });
  return cleared128;
}

} // namespace tarvix::run
