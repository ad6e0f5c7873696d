// What the headless run and the station window share: where the production log goes and what to
// tell the operator about it, the settings file the command line names, and the window itself,
// which a build without Qt does not have.
#pragma once

#include "app/station_window.h"
#include "backends.h"
#include "command_line.h"
#include "line/line_station.h"
#include "log/production_log_file.h"
#include "ui/host.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarvix::cli {

// Where the production log goes, and what to tell the operator when the trace file and the log
// cannot be kept: the station runs on without them.
struct LogPlaces {
  std::vector<std::filesystem::path> productionLogs;
  std::string trouble;
  // The production line, when the station is on one: serial numbers come from it, and every
  // finished port's record goes to it.
  line::LineStation* line = nullptr;
};

// Where finished ports' records go: to the line first, when there is one (its spool is on the
// disk before the port is shown done), then to the production log files. Thread-safe.
class StationLogs final : public log::ProductionLog {
public:
  StationLogs(const LogPlaces& places, std::function<void(const std::string&)> warn);
  // The window passes its records here and, on a line, takes its serial numbers from it.
  void attach(app::StationWindow& window);
  void add(const log::ProductionRecord& record) override;

private:
  line::LineStation* line_;
  log::ProductionLogFiles files_;
};

// A station window's production log, passed every finished port. What cannot be kept is shown in
// the window once it runs; a worker that finds a file unwritable posts it too.
class WindowProductionLog {
public:
  WindowProductionLog(app::StationWindow& window, ui::WindowHost& host, const LogPlaces& places);

private:
  StationLogs logs_;
};

// Makes the file that --settings names the station's own for this run.
void takeSettings(app::StationWindow& window, const Options& options);

// A station window as a front end opens it: its production log, the settings file the command
// line names, and start-up done. Window thread.
class OpenedWindow {
public:
  OpenedWindow(Backend& backend, ui::WindowHost& host, const Options& options,
               const LogPlaces& places);
  app::StationWindow window;

private:
  WindowProductionLog productionLog_;
};

// The station window until the operator closes it; its exit status. Without the window built in,
// says so and returns the usage error.
int runWindow(int argc, char** argv, Backend& backend, const Options& options,
              const LogPlaces& places);

} // namespace tarvix::cli
