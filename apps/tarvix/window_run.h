// What the headless run and the station window share: where the production log goes and what to
// tell the operator about it, the settings file the command line names, and the window itself,
// which a build without Qt does not have.
#pragma once

#include "app/station_window.h"
#include "backends.h"
#include "command_line.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tarvix::cli {

// Where the production log goes, and what to tell the operator when the trace file and the log
// cannot be kept: the station runs on without them.
struct LogPlaces {
  std::vector<std::filesystem::path> productionLogs;
  std::string trouble;
};

// Makes the file that --settings names the station's own for this run.
void takeSettings(app::StationWindow& window, const Options& options);

// The station window until the operator closes it; its exit status. Without the window built in,
// says so and returns the usage error.
int runWindow(int argc, char** argv, Backend& backend, const Options& options,
              const LogPlaces& places);

} // namespace tarvix::cli
