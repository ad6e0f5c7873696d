// The station: one instance per executable name (and farm), then the station window until the
// operator closes it, or a headless scan that reports the port boxes.
#include "app/station_report.h"
#include "app/station_window.h"
#include "backends.h"
#include "command_line.h"
#include "platform/linux/linux_system.h"
#include "platform/sim/farm.h"
#include "settings/profile_file.h"
#include "ui/headless/headless_host.h"
#include "ui/qt/qt_host.h"
#include "ui/qt/simulator_panel.h"
#include "ui/qt/station_view.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

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
  if (!options.settings.empty()) window.settingsPath = std::filesystem::absolute(options.settings);
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

int runScanOnly(cli::Backend& backend, const cli::Options& options) {
  ui::HeadlessHost host;
  app::StationWindow window(backend.platform(), host);
  takeSettings(window, options);
  nlohmann::ordered_json report;
  host.runAndWait([&] {
    window.initialise(); // applies the stored mapping mode: full scan and probe
    report = app::stationReport(window);
    window.close();
  });
  const std::string text = report.dump(2) + "\n";
  if (options.report.empty() || options.report == "-") {
    std::cout << text;
    return 0;
  }
  std::ofstream out(options.report, std::ios::binary | std::ios::trunc);
  if (!(out << text)) return fail(options.report.string() + ": cannot be written");
  return 0;
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
  if (!options->settings.empty()) {
    settings::ProfileFile probe;
    if (!probe.load(options->settings, error)) return fail(error);
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
  return options->headless ? runScanOnly(*backend, *options)
                           : runWindow(argc, argv, *backend, *options);
}
