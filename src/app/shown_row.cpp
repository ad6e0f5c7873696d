#include "app/shown_row.h"

#include "station/control_ids.h"
#include "text/language.h"

namespace tarvix::app {

int shownRow(const ControlRecord& record, int languageOffset) {
  if (record.id == station::id::kLanguage && record.selectedRow < 0)
    return text::languageRowForOffset(languageOffset);
  return record.selectedRow;
}

} // namespace tarvix::app
