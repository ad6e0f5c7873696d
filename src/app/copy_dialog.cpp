#include "app/copy_dialog.h"

#include "app/control_table.h"
#include "text/texts.h"

namespace tarvix::app {
namespace {

constexpr int kFolderRow = settings::CopyList::kFileRows;
constexpr int kFirstRowLabel = 5036; // "File 1" .. "File 6", then "Folder"

} // namespace

CopyDialog::CopyDialog(ui::WindowHost& host, settings::CopyList& list, int languageOffset)
    : host_(host), list_(list), languageOffset_(languageOffset) {
  for (int row = 0; row < kFolderRow; ++row)
    rows_[row] = list.files[row];
  rows_[kFolderRow] = list.folder;
}

bool CopyDialog::run() {
  host_.runCopyDialog(*this);
  bool any = false;
  for (int row = 0; row < kFolderRow; ++row) {
    list_.files[row] = rows_[row];
    any = any || rows_[row].chosen;
  }
  list_.folder = rows_[kFolderRow];
  return any || list_.folder.chosen;
}

std::string CopyDialog::caption() const { return "Copy File Dialg"; }

std::string CopyDialog::label(int row) const {
  return text::localized(kFirstRowLabel + row, languageOffset_);
}

void CopyDialog::onRowClicked(int row, bool nowChecked) {
  if (row < 0 || row >= kRows) return;
  if (!nowChecked) {
    rows_[row] = {};
    return;
  }
  if (row == kFolderRow) {
    pickFolder();
  } else {
    pickFile(row);
  }
}

void CopyDialog::pickFile(int row) {
  const auto chosen =
      host_.askPath({ui::PathRequest::Kind::OpenFile, "File", "All File (*.*)", {}});
  rows_[row] = {};
  if (!chosen) return;
  rows_[row] = {true, chosen->string()};
  if (uniqueFile(row)) return;
  rows_[row] = {};
  host_.messageBox(std::string(*text::lookup(text::kFileSelectedBefore)),
                   std::string(kApplicationName));
}

void CopyDialog::pickFolder() {
  const auto chosen = host_.askPath(
      {ui::PathRequest::Kind::Folder, "Select the folder for copy:", "", rows_[kFolderRow].path});
  rows_[kFolderRow] = {};
  if (chosen) rows_[kFolderRow] = {true, chosen->string()};
}

bool CopyDialog::uniqueFile(int row) const {
  if (rows_[row].path.empty()) return true;
  for (int other = 0; other < kFolderRow; ++other) {
    if (other != row && rows_[other].path == rows_[row].path) return false;
  }
  return true;
}

} // namespace tarvix::app
