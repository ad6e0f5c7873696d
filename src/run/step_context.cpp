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

} // namespace tarvix::run
