#include "run/step_context.h"

#include "text/texts.h"

namespace tarvix::run {

void StepContext::showText(int slot, int englishId) const {
  const auto text = text::lookup(englishId + languageOffset);
  controls.setText(station::resultLineId(slot), text ? std::string(*text) : std::string());
}

void StepContext::showFailure(int slot, int englishId) const {
  state.colourOf(slot) = station::SlotColour::Failed;
  showText(slot, englishId);
}

} // namespace tarvix::run
