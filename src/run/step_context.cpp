#include "run/step_context.h"

#include "run/reader_binding.h"
#include "text/texts.h"

namespace tarvix::run {

bool StepContext::openReader(channel::ReaderHandleHolder& holder, int driveIndex) const {
  if (readerStillBound(driveIndex)) {
    const char letter = static_cast<char>('A' + driveIndex);
    channel::GetUSBDeviceHandle(holder, station::driveName(letter), platform.clock);
    // Another reader may have taken the letter while the open was tried: then the handle is its.
    if (readerStillBound(driveIndex)) return holder.isOpen();
  }
  holder.refuse();
  return false;
}

StepDrive StepContext::drive(int driveIndex) const {
  if (binding != nullptr) {
    for (int lun = 1; lun <= station::kLunsPerPort; ++lun) {
      if (binding->lun(lun).driveIndex == driveIndex) return {binding->lun(lun).slot, lun};
    }
    return {};
  }
  const station::DriveRecord& record = state.driveRecords[driveIndex];
  return {record.slot, record.lun};
}

bool StepContext::readerStillBound(int driveIndex) const {
  return binding == nullptr || binding->holds(platform.drives, state, driveIndex);
}

void StepContext::showText(int slot, int englishId) const {
  const std::string shown = text::localized(englishId, languageOffset);
  if (production != nullptr) production->failure = shown;
  controls.setText(station::resultLineId(slot), shown);
}

void StepContext::showFailure(int slot, int englishId) const {
  state.colourOf(slot) = station::SlotColour::Failed;
  showText(slot, englishId);
}

void StepContext::showPicture(int port, text::PictureRole role) const {
  // An offset that names no language leaves the picture as it is.
  if (auto picture = text::pictureId(role, languageOffset)) {
    controls.setPicture(station::statusPictureId(port), *picture);
  }
}

} // namespace tarvix::run
