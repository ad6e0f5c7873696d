// The station: one instance per executable name (and farm), then the station window until the
// operator closes it, or a headless scan that reports the port boxes.
#include "app/control_table.h"
#include "app/station_report.h"
#include "app/station_window.h"
#include "backends.h"
#include "command_line.h"
#include "line_setup.h"
#include "log/production_log_file.h"
#include "parent_console.h"
#include "platform/sim/farm.h"
#include "run/prepare_run.h"
#include "settings/profile_file.h"
#include "settings/station_file.h"
#include "station/control_ids.h"
#include "terminal_progress.h"
#include "ui/headless/headless_host.h"
#include "window_run.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#ifdef _WIN32
#include "platform/windows/windows_system.h"
#include <io.h>
#else
#include "platform/linux/linux_system.h"
#include <unistd.h>
#endif

namespace tarvix::cli {

namespace {
std::function<void(const std::string&)> tellInWindow(app::StationWindow& window,
                                                     ui::WindowHost& host) {
  return [&host, &window](const std::string& message) {
    host.post([&window, message] { window.controls().messageBox(message); });
  };
}
// The trouble with the trace file and the log folder is told before any file's own warning.
const LogPlaces& toldTroubleFirst(app::StationWindow& window, ui::WindowHost& host,
                                  const LogPlaces& places) {
  if (!places.trouble.empty()) tellInWindow(window, host)(places.trouble);
  return places;
}
} // namespace

StationLogs::StationLogs(const LogPlaces& places, std::function<void(const std::string&)> warn)
    : line_(places.line), files_(places.productionLogs, warn) {
  if (line_ != nullptr && !line_->spoolWritable()) warn(line_->spoolTrouble());
}

void StationLogs::attach(app::StationWindow& window) {
  window.passRecordsTo(this);
  window.takeSerialsFrom(line_);
}

void StationLogs::add(const log::ProductionRecord& record) {
  if (line_ != nullptr) line_->add(record);
  files_.add(record);
}

WindowProductionLog::WindowProductionLog(app::StationWindow& window, ui::WindowHost& host,
                                         const LogPlaces& places)
    : logs_(toldTroubleFirst(window, host, places), tellInWindow(window, host)) {
  logs_.attach(window);
}

OpenedWindow::OpenedWindow(Backend& backend, ui::WindowHost& host, const Options& options,
                           const LogPlaces& places)
    : window(backend.platform(), host), productionLog_(window, host, places) {
  takeSettings(window, options);
  window.initialise();
}

void takeSettings(app::StationWindow& window, const Options& options) {
  // The named file is the station's own for this run: read at start, and saved back into.
  if (!options.settings.empty()) {
    window.setStationSettingsPath(std::filesystem::absolute(options.settings));
  }
}

} // namespace tarvix::cli

namespace {

using namespace tarvix;
using cli::LogPlaces;
using cli::takeSettings;

namespace fs = std::filesystem;

constexpr int kUsageError = 2;
// How long a headless run waits, at its end, for its records to reach the line; and a closed
// window, whose operator is waiting.
constexpr auto kLinePatience = std::chrono::seconds(20);
constexpr auto kWindowLinePatience = std::chrono::seconds(3);
constexpr int kReaderFailed = 1;
// The trace file's bound; the older part is kept as trace.log.1, so at most twice this is kept.
constexpr std::uint64_t kTraceFileLimit = 4u << 20;
constexpr const char* kNoMappingMode =
    "no port-mapping mode is chosen (bCheckHub or bCheckNOHub in the settings), so no run can "
    "start";

constexpr const char* kAnotherStation =
    "another station is running on these readers, so this one does nothing";

#ifdef _WIN32
using NativeSystem = platform::windows::WindowsSystem;
bool stdoutIsTerminal() { return ::_isatty(1) != 0; }
#else
using NativeSystem = platform::linux_backend::LinuxSystem;
bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }
#endif

void say(const std::string& message) {
  cli::useParentConsole();
  std::fprintf(stderr, "tarvix: %s\n", message.c_str());
}

int fail(const std::string& message) {
  say(message);
  return kUsageError;
}

LogPlaces logPlaces(const fs::path& folder, const platform::FileTrace& trace,
                    const cli::Options& options, bool stationWide) {
  LogPlaces places;
  const std::string lost = stationWide ? "no trace file is kept"
                                       : "no trace file and no "
                                         "production log are kept";
  if (folder.empty()) {
    places.trouble = "neither XDG_STATE_HOME nor HOME is set, so " + lost;
  } else if (!trace.writing()) {
    places.trouble = folder.string() + ": cannot be created or written, so " + lost + " there";
  } else if (!stationWide) {
    places.productionLogs.push_back(folder / "production.csv");
  }
  if (stationWide) places.productionLogs.push_back(settings::stationLogFolder() / "production.csv");
  if (!options.log.empty()) places.productionLogs.push_back(options.log);
  return places;
}

// True when `path` can take the report; a file made only to find out is removed again.
bool writable(const fs::path& path) {
  std::error_code none;
  const bool existed = fs::exists(path, none);
  const bool opened = static_cast<bool>(std::ofstream(path, std::ios::binary | std::ios::app));
  if (opened && !existed) fs::remove(path, none);
  return opened;
}

bool haveDisplay() {
#ifdef _WIN32
  return true; // a Windows station always runs on a desktop
#else
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
#endif
}

bool writeReport(const nlohmann::ordered_json& report, const std::filesystem::path& to) {
  const std::string text = report.dump(2) + "\n";
  if (to.empty() || to == "-") {
    std::cout << text;
    return true;
  }
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out << text);
}

// True when some port held a reader and every port holding one passed: a reader the station
// refused was not prepared, whatever the others did.
bool everyReaderPassed(const nlohmann::ordered_json& report) {
  bool any = false;
  for (const auto& port : report["ports"]) {
    if (!port["holdsReader"] && !port["started"] && !port.contains("refused")) continue;
    any = true;
    if (!port["started"]) return false;
    if (port["picture"] != "pass" && port["picture"] != "default-pass") return false;
  }
  return any;
}

// The run in one line for the terminal: how many readers passed, which failed and with what,
// and which were refused (each refused port's reason is on a line of its own).
std::string summary(const nlohmann::ordered_json& report) {
  int passed = 0;
  std::string failed, refused;
  int failures = 0, refusals = 0;
  for (const auto& port : report["ports"]) {
    const std::string n = std::to_string(port["port"].get<int>());
    if (port.contains("refused")) {
      refused += (refusals++ == 0 ? "" : ", ") + n;
    } else if (port.contains("production")) {
      const auto& production = port["production"];
      const std::string result = production["result"];
      if (result == "pass" || result == "default pass") {
        ++passed;
        continue;
      }
      const std::string failure = production["failure"];
      failed += (failures++ == 0 ? "port " : "; port ") + n +
                (result == "fail" ? "" : " (" + result + ")") + ": " + failure;
    }
  }
  std::string line = std::to_string(passed) + " passed, " + std::to_string(failures) + " failed";
  if (failures > 0) line += " (" + failed + ")";
  line += ", " + std::to_string(refusals) + " refused";
  if (refusals > 0) line += " (port" + std::string(refusals > 1 ? "s " : " ") + refused + ")";
  if (passed + failures + refusals == 0) line += ": no reader was found in a port box";
  return line;
}

// The started ports as the terminal shows them. Window thread.
std::vector<cli::PortLine> portLines(const app::StationWindow& window) {
  std::vector<cli::PortLine> lines;
  for (int n = 1; n <= station::kPortCount; ++n) {
    if (!window.portStarted(n)) continue;
    cli::PortLine line;
    line.port = n;
    line.shows =
        log::oneLine(window.control(station::resultLineId(station::slotNumber(n, 1))).text);
    line.position = window.control(station::progressBarId(n)).position;
    const run::PortOutcome outcome = window.outcome(n);
    if (outcome.stage == run::PortStage::Finished)
      line.result = log::resultName(outcome.record.result);
    lines.push_back(std::move(line));
  }
  return lines;
}

int runHeadless(cli::Backend& backend, const cli::Options& options, const LogPlaces& places) {
  if (!places.trouble.empty()) say(places.trouble);
  cli::StationLogs productionLog(places, say);
  ui::HeadlessHost host;
  app::StationWindow window(backend.platform(), host);
  productionLog.attach(window);
  takeSettings(window, options);
  // The run is prepared from the settings before any reader is touched: whatever would refuse
  // it (no mapping mode, an image, a copy file, a card text) refuses it here.
  std::optional<run::Preparation> preparation;
  std::string refusal;
  host.runAndWait([&] {
    window.loadStation();
    if (options.scanOnly) return;
    if (!window.mappingModeChosen()) {
      refusal = kNoMappingMode;
      return;
    }
    // From the options the window would start the run with: a step the model hides is not run.
    window.applyStartupOptions();
    preparation = window.prepareRun();
    if (!preparation->run) {
      // The window's text as it stands, then what a terminal can add: which file, and why.
      const run::Refusal& why = *preparation->refusal;
      refusal = run::refusalText(why, window.languageOffset());
      if (!why.detail.empty()) refusal += " (" + why.detail + ")";
    }
  });
  if (!refusal.empty()) {
    say(refusal);
    return kUsageError;
  }
  nlohmann::ordered_json report;
  // Start-up's second half applies the stored mapping mode: full scan and probe.
  host.runAndWait([&] { window.startScanning(); });
  backend.start();
  // Live lines only for a person at a terminal, never into a pipe or the report's own stream.
  std::optional<cli::TerminalProgress> progress;
  if (!options.scanOnly && options.report != "-" && stdoutIsTerminal()) progress.emplace(stdout);
  std::vector<cli::PortLine> lines;
  if (!options.scanOnly) {
    host.runAndWait([&] { window.startRun(std::move(*preparation)); });
    // Asleep until the run's end; a person at the terminal sees the ports between.
    std::optional<std::chrono::nanoseconds> redraw;
    if (progress) redraw = cli::kRedrawPeriod;
    while (!host.waitUntil([&] { return window.runEnded(); }, redraw)) {
      host.runAndWait([&] { lines = portLines(window); });
      progress->show(lines, false);
    }
  }
  host.runAndWait([&] {
    report = app::stationReport(window);
    if (progress) lines = portLines(window);
    window.close();
  });
  if (progress) progress->show(lines, true);
  // A port's box names its port, as its caption does in the window.
  const std::string portCaption = std::string(app::kApplicationName) + ": ";
  for (const auto& box : host.messageBoxes()) {
    say(box.caption.starts_with(portCaption)
            ? box.caption.substr(portCaption.size()) + ": " + log::oneLine(box.text)
            : box.text);
  }
  if (places.line != nullptr) {
    if (const std::size_t waiting = places.line->drain(kLinePatience); waiting > 0) {
      say(std::to_string(waiting) + " production records wait for the line database; the " +
          "station sends them when it next starts");
    }
  }
  if (!writeReport(report, options.report)) {
    return fail(options.report.string() + ": cannot be written");
  }
  if (report.contains("withoutPortBox")) {
    std::string readers;
    for (const auto& reader : report["withoutPortBox"])
      readers += (readers.empty() ? "" : ", ") + reader.get<std::string>();
    say("attached but given no port box: " + readers);
  }
  if (options.scanOnly) return 0;
  for (const auto& port : report["ports"]) {
    if (port.contains("refused")) {
      std::fprintf(stderr, "tarvix: port %d not started: %s\n", port["port"].get<int>(),
                   port["refused"].get<std::string>().c_str());
    }
  }
  say(summary(report));
  return everyReaderPassed(report) ? 0 : kReaderFailed;
}

} // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = cli::parse(argc, argv, error);
  if (!options) return fail(error + "\n" + cli::kUsage);
  if (options->help || options->version || options->headless) cli::useParentConsole();
  if (options->help) {
    std::fputs(cli::kUsage, stdout);
    return 0;
  }
  if (options->version) {
    std::printf("tarvix %s\n", TARVIX_VERSION);
    return 0;
  }
  if (!options->settings.empty() && !settings::readable(options->settings)) {
    return fail(options->settings.string() + ": cannot be read");
  }
  // Found now rather than after every card was prepared; a log, like the report, goes only into
  // a folder that is there.
  for (const fs::path& file : {options->report, options->log}) {
    if (!file.empty() && file != "-" && !writable(file)) {
      return fail(file.string() + ": cannot be written");
    }
  }

  NativeSystem instance;
  const fs::path executableFolder = instance.executablePath().parent_path();
  // The station's own settings file, where the line is named too.
  const fs::path stationFile =
      options->settings.empty()
          ? settings::stationSettingsPath(executableFolder, settings::stationWideFolder(),
                                          settings::userConfigFolder())
          : options->settings;
  if (options->lineInit || options->lineReport) return cli::runLineTool(*options, stationFile);
  // A second station for the same readers (or the same farm) ends silently; a headless one says
  // so, since a script would read its silence as every reader passed.
  if (!instance.acquireInstanceLock(cli::instanceLockName(*options, instance.executablePath()))) {
    return options->headless ? fail(kAnotherStation) : 0;
  }
  if (!options->headless && !haveDisplay()) {
    return fail(std::string("no display found.\n") + cli::kUsage);
  }
  const fs::path folder = cli::stateFolder();
  platform::FileTrace trace(folder.empty() ? fs::path() : folder / "trace.log", kTraceFileLimit,
                            options->trace);
  // An installed station's files are the station's, shared by its operators; one run from a build
  // tree or with settings of its own keeps them beside the trace file.
  const bool stationWide = options->settings.empty() && !settings::stationWideFolder().empty() &&
                           settings::installedStation(executableFolder);
  LogPlaces places = logPlaces(folder, trace, *options, stationWide);
  std::optional<line::LineConfig> lineConfig;
  const fs::path spoolFolder = stationWide      ? settings::stationWideFolder()
                               : folder.empty() ? stationFile.parent_path()
                                                : folder;
  if (!cli::chooseLine(*options, stationFile, instance.hostName(), spoolFolder, lineConfig, error))
    return fail(error);
  std::optional<line::LineStation> line;
  if (lineConfig) places.line = &line.emplace(*lineConfig, trace, say);
  auto backend = cli::makeBackend(*options, trace, error);
  if (!backend) return fail(error);
  if (options->headless) return runHeadless(*backend, *options, places);
  const int status = runWindow(argc, argv, *backend, *options, places);
  // The last ports' records have a moment to reach the line; what does not waits in the spool.
  if (places.line != nullptr) places.line->drain(kWindowLinePatience);
  return status;
}
