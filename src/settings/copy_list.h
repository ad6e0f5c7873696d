// The files and the folder copied onto every card: six file rows and one folder row, each chosen
// or not, kept in the settings file's "Copy File" section.
#pragma once

#include "settings/profile_file.h"

#include <array>
#include <string>

namespace tarvix::settings {

struct CopyRow {
  bool chosen = false;
  std::string path;
};

struct CopyList {
  static constexpr int kFileRows = 6;
  std::array<CopyRow, kFileRows> files;
  CopyRow folder;

  void load(const ProfileFile& profile);
  void save(ProfileFile& profile) const;
};

} // namespace tarvix::settings
