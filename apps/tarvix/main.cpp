// The station: one instance per executable name (and farm), then the station window until the
// operator closes it, or a headless scan that reports the port boxes.
#include "app/station_report.h"
#include "app/station_window.h"
#include "backends.h"
#include "command_line.h"
#include "platform/linux/linux_system.h"
#include "platform/sim/farm.h"
#include "settings/profile_file.h"
#include "station/control_ids.h"
#include "ui/headless/headless_host.h"
#include "ui/qt/qt_host.h"
#include "ui/qt/simulator_panel.h"
#include "ui/qt/station_view.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <thread>

namespace {

using namespace tarvix;

constexpr int kUsageError = 2;

int fail(const std::string& message) {
  std::fprintf(stderr, "tarvix: %s\n", message.c_str());
  return kUsageError;
}

bool haveDisplay() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

void takeSettings(app::StationWindow& window, const cli::Options& options) {
  // The named file is the station's own for this run: read at start, and saved back into.
  if (!options.settings.empty()) {
    window.stationSettingsPath = std::filesystem::absolute(options.settings);
  }
}

int runWindow(int argc, char** argv, cli::Backend& backend, const cli::Options& options) {
  QApplication application(argc, argv);
  ui::QtHost host;
  app::StationWindow window(backend.platform(), host);
  takeSettings(window, options);
  window.initialise();
  ui::StationView view(window);
  host.setParentWindow(&view);
  host.setAboutHandler([&view] { view.showAboutBox(); });
  if (platform::sim::Farm* farm = backend.farm()) {
    view.addStrip(new ui::SimulatorPanel(
        {farm->readerIds(), [farm](const std::string& id) { return farm->isPlugged(id); },
         [farm](const std::string& id) { return farm->plug(id); },
         [farm](const std::string& id) { return farm->pull(id); }}));
  }
  backend.start();
  view.show();
  QApplication::exec();
  window.close();
  return 0;
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
    if (!port["holdsReader"] && !port["started"]) continue;
    any = true;
    if (!port["started"]) return false;
    if (port["picture"] != "pass" && port["picture"] != "default-pass") return false;
  }
  return any;
}

int runHeadless(cli::Backend& backend, const cli::Options& options) {
  ui::HeadlessHost host;
  app::StationWindow window(backend.platform(), host);
  takeSettings(window, options);
  nlohmann::ordered_json report;
  // Start-up applies the stored mapping mode: full scan and probe.
  host.runAndWait([&] { window.initialise(); });
  backend.start();
  if (!options.scanOnly) {
    bool canStart = false;
    host.runAndWait([&] { canStart = window.control(station::id::kAutoStart).enabled; });
    if (!canStart) {
      // As in the window: Auto Start waits for a port-mapping mode.
      std::fputs("tarvix: no port-mapping mode is chosen (bCheckHub or bCheckNOHub in the "
                 "settings), so no run can start\n",
                 stderr);
      host.runAndWait([&] {
        report = app::stationReport(window);
        window.close();
      });
      writeReport(report, options.report);
      return 1;
    }
    host.runAndWait([&] { window.onClicked(station::id::kAutoStart); });
    bool ended = false;
    while (!ended) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      host.runAndWait([&] { ended = window.runEnded(); });
    }
  }
  host.runAndWait([&] {
    report = app::stationReport(window);
    window.close();
  });
  for (const std::string& message : host.messages())
    std::fprintf(stderr, "tarvix: %s\n", message.c_str());
  if (!writeReport(report, options.report)) {
    return fail(options.report.string() + ": cannot be written");
  }
  if (options.scanOnly) return 0;
  for (const auto& port : report["ports"]) {
    if (port.contains("refused")) {
      std::fprintf(stderr, "tarvix: port %d not started: %s\n", port["port"].get<int>(),
                   port["refused"].get<std::string>().c_str());
    }
  }
  return everyReaderPassed(report) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = cli::parse(argc, argv, error);
  if (!options) return fail(error + "\n" + cli::kUsage);
  if (options->help) {
    std::fputs(cli::kUsage, stdout);
    return 0;
  }
  if (!options->settings.empty() && !settings::readable(options->settings)) {
    return fail(options->settings.string() + ": cannot be read");
  }

  platform::linux_backend::LinuxSystem instance;
  // A second station for the same readers (or the same farm) ends silently.
  if (!instance.acquireInstanceLock(cli::instanceLockName(*options, instance.executablePath()))) {
    return 0;
  }
  if (!options->headless && !haveDisplay()) {
    return fail(std::string("no display found.\n") + cli::kUsage);
  }
  auto backend = cli::makeBackend(*options, error);
  if (!backend) return fail(error);
  return options->headless ? runHeadless(*backend, *options)
                           : runWindow(argc, argv, *backend, *options);
}
