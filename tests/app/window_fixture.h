// A station window on the fake platform, its handlers run on the headless host's window thread as
// the toolkit would run them; the station's folder (settings file, images) is the test's own.
#pragma once

#include "app/station_window.h"
#include "station/control_ids.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"
#include "ui/headless/headless_host.h"

#include <gtest/gtest.h>

namespace tarvix::app {

class WindowOnFakes : public ::testing::Test {
protected:
  WindowOnFakes() {
    fake.system.executable = dir / "tarvix";
    window = std::make_unique<StationWindow>(fake.platform, host);
  }
  ~WindowOnFakes() override { window.reset(); }

  // Starts the window as the station starts, a fresh one if the test ended the last.
  void start() {
    if (!window) window = std::make_unique<StationWindow>(fake.platform, host);
    onWindow([&] { window->initialise(); });
  }
  template <typename Body> void onWindow(Body&& body) { host.runAndWait(body); }
  std::string text(int id) { return window->controls().text(id); }

  testing::TempDir dir;
  testing::FakePlatform fake;
  ui::HeadlessHost host;
  std::unique_ptr<StationWindow> window;
};

} // namespace tarvix::app
