// The station window: the Qt host, the window model drawn by the Qt view, and on a farm the strip
// that plugs and pulls its readers.
#include "log/production_log_file.h"
#include "platform/sim/farm.h"
#include "ui/qt/qt_host.h"
#include "ui/qt/simulator_panel.h"
#include "ui/qt/station_view.h"
#include "window_run.h"

#include <QApplication>

namespace tarvix::cli {

int runWindow(int argc, char** argv, Backend& backend, const Options& options,
              const LogPlaces& places) {
  QApplication application(argc, argv);
  ui::QtHost host;
  OpenedWindow station(backend, host, options, places);
  ui::StationView view(station.window);
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
  station.window.close();
  return 0;
}

} // namespace tarvix::cli
