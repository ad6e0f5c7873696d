#include "run/step_context.h"

#include "run/reader_binding.h"
#include "text/texts.h"

namespace tarvix::run {

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

void StepContext::noteCapacityCheck(int lun, station::CapacityVerdict verdict,
                                    std::uint32_t realMiB) const {
  if (outcome != nullptr && lun >= 1 && lun <= station::kLunsPerPort)
    outcome->capacityChecks[lun - 1] = {verdict, realMiB};
}

void StepContext::showText(int slot, text::TextId englishId) const {
  const std::string shown = text::localized(englishId, languageOffset);
  if (outcome != nullptr) outcome->record.failure = shown;
  display->showLine(slot, shown);
}

void StepContext::showFailure(int slot, text::TextId englishId) const {
  showFailure(slot, text::localized(englishId, languageOffset));
}

void StepContext::showFailure(int slot, const std::string& shown) const {
  display->showColour(slot, station::SlotColour::Failed);
  if (outcome != nullptr) outcome->record.failure = shown;
  display->showLine(slot, shown);
}

void StepContext::showPicture(int port, text::PictureRole role) const {
  // An offset that names no language leaves the picture as it is.
  if (auto picture = text::pictureId(role, languageOffset)) {
    display->showPicture(port, *picture);
  }
}

} // namespace tarvix::run
