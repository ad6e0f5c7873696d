// The copy-file dialog: six file rows and a folder row over the station's copy list. Opened with
// the list, it shows it; every click picks or drops a row at once; closing writes the rows back.
// Window thread only.
#pragma once

#include "settings/copy_list.h"
#include "ui/host.h"

#include <array>

namespace tarvix::app {

class CopyDialog final : public ui::CopyDialogModel {
public:
  CopyDialog(ui::WindowHost& host, settings::CopyList& list, int languageOffset);

  // Shows the dialog until the operator closes it, then writes the rows back into the list.
  // True when any row is chosen.
  bool run();

  std::string caption() const override;
  std::string label(int row) const override;
  bool checked(int row) const override { return rows_[row].chosen; }
  std::string path(int row) const override { return rows_[row].path; }
  void onRowClicked(int row, bool nowChecked) override;

private:
  void pickFile(int row);
  void pickFolder();
  // A file may stand in one row only (the folder row takes no part).
  bool uniqueFile(int row) const;

  ui::WindowHost& host_;
  settings::CopyList& list_;
  int languageOffset_;
  std::array<settings::CopyRow, kRows> rows_;
};

} // namespace tarvix::app
