// The row a drop-down list shows: the selected one; the language list with no row selected (no
// language chosen, the system's in use) shows the language in use rather than standing empty.
// The model keeps no selection, so the settings still store no choice.
#pragma once

#include "app/control.h"
#include "station/control_ids.h"
#include "text/language.h"

namespace tarvix::ui {

inline int shownRow(const app::ControlRecord& record, int languageOffset) {
  if (record.id == station::id::kLanguage && record.selectedRow < 0)
    return text::languageRowForOffset(languageOffset);
  return record.selectedRow;
}

} // namespace tarvix::ui
