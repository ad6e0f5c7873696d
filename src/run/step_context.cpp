#include "run/step_context.h"

#include "text/texts.h"

namespace tarvix::run {

void StepContext::showText(int slot, int englishId) const {
  controls.setText(station::resultLineId(slot), text::localized(englishId, languageOffset));
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
