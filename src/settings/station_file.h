// The station's own settings file: where it lives, and the serial number counter kept in it, which
// every station process on this computer shares, whichever operator account runs it.
#pragma once

#include "platform/files/shared_file.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvix::settings {

// Where an installed station keeps its settings and serial number counter, and its production
// log: folders of group tarvix, shared by its operators and made by the package. Empty on Windows,
// where the station is copied rather than installed.
std::filesystem::path stationWideFolder();
std::filesystem::path stationLogFolder();

// True for an installed station: its executable's folder cannot take files, or is one of the
// system's program folders (/usr/bin and the like), where not even root's station leaves files.
bool installedStation(const std::filesystem::path& executableFolder);

// An installed station's settings file is TarvixValue.ini in `stationFolder`, the same for every
// operator; a station run from a build tree keeps it beside the executable. With no station folder
// (Windows): beside the executable when that file can be written, or the folder can take a new
// one, otherwise in a "Tarvix" folder under `configHome`, made when missing.
std::filesystem::path stationSettingsPath(const std::filesystem::path& executableFolder,
                                          const std::filesystem::path& stationFolder,
                                          const std::filesystem::path& configHome);
// $XDG_CONFIG_HOME, or ~/.config when it is not set; %APPDATA% on Windows.
std::filesystem::path userConfigFolder();

// The lock every station process on this computer holds while it reads and advances the counter
// in `file`: taken on "<file>.lock" beside it, as the file itself is replaced whole at each save;
// on the file itself when its folder takes no new file (it is then rewritten in place). Not held
// when neither can be opened; the counter cannot be saved then either.
class SerialCounterLock {
public:
  explicit SerialCounterLock(const std::filesystem::path& file);
  bool held() const { return besideLock_.held() || (fileLock_ && fileLock_->held()); }

private:
  platform::files::ProcessLock besideLock_;
  std::optional<platform::files::ProcessLock> fileLock_;
};

// szSerialNum as `file` holds it now; nothing when the file or the key is missing. A number read
// to be handed out is read under the counter's lock.
std::optional<std::string> storedSerialNumber(const std::filesystem::path& file);

// Why `file` was not saved, for the operator: "<file>: cannot be written", and, when its folder
// takes no new file either (so nothing could be saved there), ", nor can its folder <folder> take
// a new file".
std::string notSavedText(const std::filesystem::path& file);

// Writes `next` as szSerialNum into `file`, atomically, leaving every other line as it was; a new
// file gets the sections up to CardInfor in their usual order, so the exit save fills them in
// place. False when the file cannot be written. Any thread; callers hold the counter's lock.
bool saveSerialNumber(const std::filesystem::path& file, std::string_view next);

// The serial number a run starts from, under the counter's lock: `shown` when the operator
// `typed` it (or loaded it from another file), saved as the counter's new value; otherwise the
// counter's own, which another station may have moved on (`shown` when the file holds none).
// `shown` too when the counter cannot be saved: taking the first number then says so.
std::string startingSerialNumber(const std::filesystem::path& file, const std::string& shown,
                                 bool typed);

} // namespace tarvix::settings
