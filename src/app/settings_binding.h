// The settings file against the window: which file is read, what every key sets at load, what is
// written back at save, and the files the Load and Save buttons ask for. It sets the window's
// controls, the serial number series and the copy list; what the window does after a load
// (language, mapping mode, the power text) stays the window's. Window thread only.
#pragma once

#include "app/control_model.h"
#include "platform/platform.h"
#include "run/serial_counter.h"
#include "settings/copy_list.h"
#include "settings/profile_file.h"
#include "ui/host.h"

#include <filesystem>
#include <optional>
#include <string>

namespace tarvix::app {

// The production line the station's settings name under [Line]: its database (szConnection), the
// series the station takes from (szSeries) and the station's name in the line (szStation). Read
// once at start-up, before any window, as the line serves every run of the station; save() keeps
// the section as it is.
struct LineSetting {
  std::optional<std::string> connection; // nothing when the file names no line
  std::string series;                    // "default" when unset
  std::string station;                   // `hostName` when unset
};
LineSetting lineSetting(const std::filesystem::path& file, const std::string& hostName);

class SettingsBinding {
public:
  // Keeps references to all it is given.
  SettingsBinding(platform::Platform& platform, ui::WindowHost& host, ControlModel& controls,
                  run::SerialCounter& serials, settings::CopyList& copyList);

  // The file read at start-up and written at exit (and with every serial number taken). Set
  // before the window starts to name one; otherwise useStationFile() picks the default place.
  std::filesystem::path stationSettingsPath;
  // The file in use: the one last loaded or saved, shown in the window.
  std::filesystem::path settingsPath;

  // Start-up: the station's file becomes the serial number's home.
  void useStationFile();
  // Reads the file in use (the station's when it cannot be read) into the controls, the state
  // and the copy list. Returns the stored language number (0: none stored).
  int load();
  bool save();
  // Closing: the station's file always receives the settings the station closed with.
  void saveToStationFile();
  // The Load button's file, made the one in use; false when none was chosen or it cannot be read
  // (and the operator is told).
  bool chooseFileToLoad();
  // The Save button: asks for a file and writes it, telling the operator how that went.
  void onSaveClicked();

private:
  void resolveSettingsPath();
  // The stored language number.
  int applySettings(const settings::ProfileFile& profile);
  ui::PathRequest settingsFileRequest(bool save) const;

  platform::Platform& platform_;
  ui::WindowHost& host_;
  ControlModel& controls_;
  run::SerialCounter& serials_;
  settings::CopyList& copyList_;
};

} // namespace tarvix::app
