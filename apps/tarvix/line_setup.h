// The production line as the command line and the station's settings name it, and the two line
// tools (--line-init, --line-report).
#pragma once

#include "command_line.h"
#include "line/line_station.h"

#include <filesystem>
#include <optional>
#include <string>

namespace tarvix::cli {

// The line the station works on: --line, or szConnection under [Line] in `settingsFile`; its
// series (szSeries, "default") and the station's name in it (szStation, else `hostName`), and
// the spool in `spoolFolder`. Nothing when neither names a line; false with `error` when the one
// named cannot be used (it names a password, or the station is built without the line).
bool chooseLine(const Options& options, const std::filesystem::path& settingsFile,
                const std::string& hostName, const std::filesystem::path& spoolFolder,
                std::optional<line::LineConfig>& line, std::string& error);

// --line-init or --line-report on the line that chooseLine() finds: what it said on standard
// output, and 0; or why not on standard error, and 1 (2 when no line is named).
int runLineTool(const Options& options, const std::filesystem::path& settingsFile);

} // namespace tarvix::cli
