#include "settings/station_file.h"

#include "settings/profile_file.h"
#include "settings/settings_keys.h"

#include <cstdlib>
#include <fstream>

namespace tarvix::settings {
namespace {

namespace fs = std::filesystem;

// Whether a new file can be made in `folder`: tried rather than judged from the mode bits, which
// say nothing of read-only mounts, capabilities or access control lists.
bool folderTakesFiles(const fs::path& folder) {
  std::string probe = (folder / ".tarvix-write-test.XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  std::error_code ignored;
  fs::remove(probe, ignored);
  return true;
}

} // namespace

fs::path stationSettingsPath(const fs::path& executableFolder, const fs::path& configHome) {
  const fs::path beside = executableFolder / kDefaultFileName;
  std::error_code error;
  const bool exists = fs::exists(beside, error);
  if (exists ? static_cast<bool>(std::ofstream(beside, std::ios::binary | std::ios::app))
             : folderTakesFiles(executableFolder)) {
    return beside;
  }
  const fs::path folder = configHome / "tarvix";
  fs::create_directories(folder, error);
  return folder / kDefaultFileName;
}

fs::path userConfigFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr ? home : "") / ".config";
}

bool saveSerialNumber(const fs::path& file, std::string_view next) {
  ProfileFile profile;
  std::string ignored;
  if (readable(file)) {
    profile.load(file, ignored);
  } else {
    for (std::string_view s : {section::kLanguage, section::kHubPortMap, section::kTestItem})
      profile.addSection(s);
  }
  profile.setText(section::kCardInfor, key::kSerialNum, next);
  return profile.save(file);
}

} // namespace tarvix::settings
