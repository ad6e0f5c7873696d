// The copy-file dialog as the operator uses it through the Copy File check box.
#include "app/window_fixture.h"

namespace tarvix::app {
namespace {

using Answer = std::optional<std::filesystem::path>;

class CopyFileDialog : public WindowOnFakes {
protected:
  CopyFileDialog() {
    start();
    host.setPathResponder([&](const ui::PathRequest& r) -> Answer {
      requests.push_back(r);
      if (answers.empty()) return std::nullopt;
      Answer next = answers.front();
      answers.erase(answers.begin());
      return next;
    });
  }
  // Opens the dialog with Copy File and plays `clicks` (row, checked after the click).
  void open(std::vector<std::pair<int, bool>> clicks) {
    host.setCopyDialogScript([clicks](ui::CopyDialogModel& dialog) {
      for (auto [row, nowChecked] : clicks)
        dialog.onRowClicked(row, nowChecked);
    });
    host.runAndWait([&] {
      window->controls().setChecked(id::kCopyFile, false);
      window->onClicked(id::kCopyFile);
    });
  }

  std::vector<Answer> answers;
  std::vector<ui::PathRequest> requests;
};

TEST_F(CopyFileDialog, ChosenRowsReachTheListAndADuplicateFileIsRefused) {
  answers = {"/data/a.bin", "/data/b.bin", "/data/a.bin", "/data/A.bin", "/data/Docs"};
  open({{0, true}, {1, true}, {4, true}, {2, true}, {6, true}});
  const auto& list = window->copyList();
  EXPECT_EQ(list.files[0].path, "/data/a.bin");
  EXPECT_EQ(list.files[1].path, "/data/b.bin");
  EXPECT_FALSE(list.files[4].chosen); // row 1 holds it already
  EXPECT_EQ(list.files[4].path, "");
  EXPECT_EQ(list.files[2].path, "/data/A.bin"); // letter case makes another file
  EXPECT_EQ(list.folder.path, "/data/Docs");
  EXPECT_EQ(host.messages().back(), "File has selected before!!......Please select other file!!");
  EXPECT_EQ(requests.back().kind, ui::PathRequest::Kind::Folder);
  EXPECT_TRUE(window->controls().checked(id::kCopyFile));
}

TEST_F(CopyFileDialog, CancelOrUncheckEmptiesARowAndNoRowTurnsTheStepOff) {
  answers = {"/data/a.bin"};
  open({{0, true}});
  ASSERT_TRUE(window->copyList().files[0].chosen);
  open({{0, false}, {3, true}}); // unchecked by hand, then a cancelled file dialog
  EXPECT_FALSE(window->copyList().files[0].chosen);
  EXPECT_EQ(window->copyList().files[0].path, "");
  EXPECT_FALSE(window->copyList().files[3].chosen);
  EXPECT_FALSE(window->controls().checked(id::kCopyFile));
}

TEST_F(CopyFileDialog, RowsAreLabelledInTheOperatorsLanguage) {
  std::vector<std::string> labels;
  host.runAndWait([&] { window->onRowSelected(id::kLanguage, 2); });
  host.setCopyDialogScript([&](ui::CopyDialogModel& dialog) {
    for (int row = 0; row < ui::CopyDialogModel::kRows; ++row)
      labels.push_back(dialog.label(row));
  });
  host.runAndWait([&] { window->onClicked(id::kCopyFile); });
  EXPECT_EQ(labels.front(), "檔案 1");
  EXPECT_EQ(labels.back(), "資料夾");
}

} // namespace
} // namespace tarvix::app
