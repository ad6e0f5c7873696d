#include "settings/copy_list.h"

#include "settings/settings_keys.h"

namespace tarvix::settings {
namespace {

std::string numbered(std::string_view key, int row) {
  return std::string(key) + (row < 10 ? "0" : "") + std::to_string(row);
}

} // namespace

void CopyList::load(const ProfileFile& profile) {
  for (int row = 1; row <= kFileRows; ++row) {
    files[row - 1].chosen =
        profile.integer(section::kCopyFile, numbered("bCheckFile", row), 0) != 0;
    files[row - 1].path = profile.text(section::kCopyFile, numbered("szFilePath", row), "");
  }
  folder.chosen = profile.integer(section::kCopyFile, "bCheckFolder01", 0) != 0;
  folder.path = profile.text(section::kCopyFile, "szFolderPath01", "");
}

void CopyList::save(ProfileFile& profile) const {
  for (int row = 1; row <= kFileRows; ++row) {
    profile.setCheck(section::kCopyFile, numbered("bCheckFile", row), files[row - 1].chosen);
  }
  profile.setCheck(section::kCopyFile, "bCheckFolder01", folder.chosen);
  for (int row = 1; row <= kFileRows; ++row) {
    profile.setText(section::kCopyFile, numbered("szFilePath", row), files[row - 1].path);
  }
  profile.setText(section::kCopyFile, "szFolderPath01", folder.path);
}

} // namespace tarvix::settings
