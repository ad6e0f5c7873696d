// The station's own settings file: where it lives, and the serial number counter kept in it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvix::settings {

// The settings file beside the executable when that file can be written, or the folder can take
// a new one; otherwise TarvixValue.ini in a "tarvix" ("Tarvix" on Windows) folder under
// `configHome`, which is made
// when missing. An installed station thus keeps its settings, and its serial numbers, per user.
std::filesystem::path stationSettingsPath(const std::filesystem::path& executableFolder,
                                          const std::filesystem::path& configHome);
// $XDG_CONFIG_HOME, or ~/.config when it is not set; %APPDATA% on Windows.
std::filesystem::path userConfigFolder();

// Why `file` was not saved, for the operator: "<file>: cannot be written", and, when its folder
// takes no new file either (so nothing could be saved there), ", nor can its folder <folder> take
// a new file".
std::string notSavedText(const std::filesystem::path& file);

// Writes `next` as szSerialNum into `file`, atomically, leaving every other line as it was; a new
// file gets the sections up to CardInfor in their usual order, so the exit save fills them in
// place. False when the file cannot be written. Any thread; callers serialise.
bool saveSerialNumber(const std::filesystem::path& file, std::string_view next);

} // namespace tarvix::settings
