// The copy-file dialog as the window host shows it: seven rows (six files, one folder), each a
// check box and a read-only path, and what a click on a row's check box does. The model decides;
// a host only draws it and forwards the clicks. Window thread only.
#pragma once

#include <string>

namespace tarvix::ui {

class CopyDialogModel {
public:
  static constexpr int kRows = 7; // rows 0-5 files, row 6 the folder

  virtual ~CopyDialogModel() = default;
  virtual std::string caption() const = 0;
  virtual std::string label(int row) const = 0;
  virtual bool checked(int row) const = 0;
  virtual std::string path(int row) const = 0;
  // The operator clicked row's check box; `nowChecked` is its state after the click.
  virtual void onRowClicked(int row, bool nowChecked) = 0;
};

} // namespace tarvix::ui
