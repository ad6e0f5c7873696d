// The EEPROM model's identity: the parameter image written to the controller's EEPROM and read
// back, and the factory default that clears it. Run on the port's worker thread.
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/card_parameters.h"
#include "run/steps.h"

#include <algorithm>
#include <span>

namespace tarvix::run {
namespace {

constexpr int kTextEepromFailed = 5059;
constexpr int kTextEepromPassed = 5060;

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
  const std::optional<SectorImage> image = buildEepromParameterImage(context);
  if (!image) {
    context.showText(slot, kTextEepromFailed);
    return false;
  }
  if (port.cardInfoWritten) {
    context.showText(slot, kTextEepromPassed);
    return true;
  }

  platform::Platform& platform = context.platform;
  channel::ReaderHandleHolder m_hUSBDeviceHandle(platform.readers, platform.trace);
  context.openReader(m_hUSBDeviceHandle, driveIndex);
  SectorImage readBack{};
  // Both images are zero beyond the parameter image, so the whole of them is compared.
  const bool passed =
      channel::WriteEEPROM(m_hUSBDeviceHandle, std::span(*image).first(kEepromImageLength)) &&
      channel::ReadEEPROM(m_hUSBDeviceHandle, std::span(readBack).first(kEepromImageLength)) &&
      readBack == *image;
  if (!passed) {
    context.showText(slot, kTextEepromFailed);
    m_hUSBDeviceHandle.close();
    return false;
  }
  m_hUSBDeviceHandle.close();
  context.showText(slot, kTextEepromPassed);
  return true;
}

bool eepromFactoryDefaultStep(const StepContext& context, int driveIndex,
                              station::PortRecord& port) {
  platform::Platform& platform = context.platform;
  const int progressBar = station::progressBarId(port.portNumber);
  const SectorImage cleared{};
  SectorImage readBack{};

  channel::ReaderHandleHolder m_hUSBDeviceHandle(platform.readers, platform.trace);
  context.openReader(m_hUSBDeviceHandle, driveIndex);
  context.controls.setProgress(progressBar, kProgressOpened);
  if (!channel::WriteEEPROM(m_hUSBDeviceHandle, std::span(cleared).first(kFactoryClearedBytes))) {
    m_hUSBDeviceHandle.close();
    return false;
  }
  context.controls.setProgress(progressBar, kProgressWritten);
  if (!channel::ReadEEPROM(m_hUSBDeviceHandle, std::span(readBack).first(kFactoryClearedBytes))) {
    m_hUSBDeviceHandle.close();
    return false;
  }
  context.controls.setProgress(progressBar, kProgressReadBack);
  const bool cleared128 = std::all_of(readBack.begin(), readBack.begin() + kFactoryClearedBytes,
                                      [](std::uint8_t b) { return b == 0; });
  m_hUSBDeviceHandle.close();
  return cleared128;
}

} // namespace tarvix::run
