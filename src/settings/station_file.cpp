#include "settings/station_file.h"

#include "platform/files/file_io.h"
#include "settings/profile_file.h"
#include "settings/settings_keys.h"

#include <cstdlib>
#include <fstream>
#include <random>

namespace tarvix::settings {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kConfigFolderName = "Tarvix";
#else
constexpr const char* kConfigFolderName = "tarvix";
#endif

// Whether a new file can be made in `folder`: tried rather than judged from the mode bits, which
// say nothing of read-only mounts, capabilities or access control lists.
bool folderTakesFiles(const fs::path& folder) {
  const fs::path probe = folder / (".tarvix-write-test." + std::to_string(std::random_device{}()));
  const int fd = platform::files::openFile(probe, platform::files::OpenMode::CreateNew);
  if (fd < 0) return false;
  platform::files::closeFile(fd);
  std::error_code ignored;
  fs::remove(probe, ignored);
  return true;
}

} // namespace

fs::path stationWideFolder() {
#ifdef _WIN32
  return {};
#else
  return "/var/lib/tarvix";
#endif
}

fs::path stationLogFolder() {
#ifdef _WIN32
  return {};
#else
  return "/var/log/tarvix";
#endif
}

bool installedStation(const fs::path& executableFolder) {
#ifndef _WIN32
  std::error_code error;
  const fs::path folder = fs::weakly_canonical(executableFolder, error);
  for (const char* system : {"/usr/", "/bin", "/sbin", "/opt/"}) {
    if (folder.string().starts_with(system)) return true;
  }
#endif
  return !folderTakesFiles(executableFolder);
}

fs::path stationSettingsPath(const fs::path& executableFolder, const fs::path& stationFolder,
                             const fs::path& configHome) {
  const fs::path beside = executableFolder / kDefaultFileName;
  std::error_code error;
  const bool besideWritable =
      fs::exists(beside, error)
          ? static_cast<bool>(std::ofstream(beside, std::ios::binary | std::ios::app))
          : folderTakesFiles(executableFolder);
  if (!stationFolder.empty()) {
    return installedStation(executableFolder) || !besideWritable ? stationFolder / kDefaultFileName
                                                                 : beside;
  }
  if (besideWritable) return beside;
  const fs::path folder = configHome / kConfigFolderName;
  fs::create_directories(folder, error);
  return folder / kDefaultFileName;
}

std::string notSavedText(const fs::path& file) {
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  std::string text = file.string() + ": cannot be written";
  if (!folderTakesFiles(folder))
    text += ", nor can its folder " + folder.string() + " take a new file";
  return text;
}

fs::path userConfigFolder() {
#ifdef _WIN32
  // The roaming application data of the user, as Windows programs keep their settings.
  const char* appData = std::getenv("APPDATA");
  return appData != nullptr ? fs::path(appData) : fs::path();
#else
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr ? home : "") / ".config";
#endif
}

SerialCounterLock::SerialCounterLock(const fs::path& file)
    : besideLock_(file.empty() ? fs::path() : fs::path(file) += ".lock") {
  // In a folder that takes no new file the settings are rewritten in place, so the file itself
  // can carry the lock.
  if (!besideLock_.held() && !file.empty() && readable(file)) fileLock_.emplace(file);
}

std::optional<std::string> storedSerialNumber(const fs::path& file) {
  ProfileFile profile;
  std::string ignored;
  if (!readable(file) || !profile.load(file, ignored)) return std::nullopt;
  if (!profile.has(section::kCardInfor, key::kSerialNum)) return std::nullopt;
  return profile.text(section::kCardInfor, key::kSerialNum, "");
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

std::string startingSerialNumber(const fs::path& file, const std::string& shown, bool typed) {
  const SerialCounterLock lock(file);
  if (!lock.held()) return shown;
  if (typed) {
    saveSerialNumber(file, shown);
    return shown;
  }
  return storedSerialNumber(file).value_or(shown);
}

} // namespace tarvix::settings
