// A whole station (window model, headless host) on a simulated farm built from JSON text, with its
// cards and settings in a temporary folder.
#pragma once

#include "app/station_report.h"
#include "app/station_window.h"
#include "app/window_port_display.h"
#include "platform/sim/farm.h"
#include "station/control_ids.h"
#include "support/fake_platform.h"
#include "support/farm_text.h"
#include "support/temp_dir.h"
#ifdef _WIN32
#include "platform/windows/windows_system.h"
#else
#include "platform/linux/linux_system.h"
#endif
#include "ui/headless/headless_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <limits>
#include <thread>

namespace tarvix::testing {

// A fixed system whose child processes (the copy tool) run for real.
class SystemWithProcesses final : public FakeSystem {
public:
  platform::ProcessOutcome runHidden(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& environment,
                                     const std::filesystem::path& workingDir,
                                     std::chrono::nanoseconds timeout,
                                     const std::function<bool()>& wanted) override {
    std::int64_t shortest = shortestTimeoutNs.load();
    while (timeout.count() < shortest &&
           !shortestTimeoutNs.compare_exchange_weak(shortest, timeout.count())) {
    }
    return real_.runHidden(argv, environment, workingDir, timeout, wanted);
  }

  // The shortest time-out a child process was given, in real nanoseconds.
  std::atomic<std::int64_t> shortestTimeoutNs{std::numeric_limits<std::int64_t>::max()};

private:
#ifdef _WIN32
  platform::windows::WindowsSystem real_;
#else
  platform::linux_backend::LinuxSystem real_;
#endif
};

class StationOnFarm {
public:
  // Every "{dir}" in `settings` names the station's folder, where a test's files go.
  StationOnFarm(const std::string& farmJson, std::string settings) {
    std::string error;
    farm = platform::sim::Farm::fromText(farmJson, "test farm", dir_.path(), error);
    if (!farm) throw std::runtime_error(error);
    system.executable = dir_ / "tarvix";
    for (std::size_t at; (at = settings.find("{dir}")) != std::string::npos;)
      settings.replace(at, 5, dir_.path().string());
    dir_.write("TarvixValue.ini", settings);
    platform_ = std::make_unique<platform::Platform>(
        platform::Platform{farm->clock(), trace, system, farm->drives(), farm->usbTree(),
                           farm->readerAccess(), farm->volumes()});
    window = std::make_unique<app::StationWindow>(*platform_, host);
  }
  ~StationOnFarm() {
    window.reset();
    farm.reset();
  }

  void start() {
    host.runAndWait([&] { window->initialise(); });
  }
  // Presses Auto Start and waits until the run has ended by itself.
  bool runOnce(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    host.runAndWait([&] { window->onClicked(station::id::kAutoStart); });
    return host.waitUntil([&] { return window->runEnded(); }, limit);
  }
  std::filesystem::path dir() const { return dir_.path(); }
  // Runs `step` on a worker thread, as port 1's worker would, with the options the window shows.
  template <typename Step> bool runStep(Step step) {
    run::RunOptions options;
    host.runAndWait([&] { options = window->readRunOptions(); });
    bool passed = false;
    std::thread([&] {
      const run::LoadedImages images;
      run::SerialCounter serials;
      const run::StepContext context{window->platform(),
                                     std::make_shared<app::WindowPortDisplay>(window->controls()),
                                     window->readers(),
                                     options,
                                     images,
                                     serials,
                                     window->languageOffset()};
      passed = step(context, window->readers().ports[0]);
    }).join();
    return passed;
  }
  nlohmann::ordered_json report() {
    nlohmann::ordered_json r;
    host.runAndWait([&] { r = app::stationReport(*window); });
    return r;
  }
  // Waits (real time) until `done` holds on the window thread, or fails after `limit`.
  template <typename Done>
  bool waitFor(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      bool ok = false;
      host.runAndWait([&] { ok = done(); });
      if (ok) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::unique_ptr<platform::sim::Farm> farm;
  platform::CapturingTrace trace;
  SystemWithProcesses system;
  ui::HeadlessHost host;
  std::unique_ptr<app::StationWindow> window;

private:
  TempDir dir_; // removed after the destructor has ended the window and the farm
  std::unique_ptr<platform::Platform> platform_;
};

} // namespace tarvix::testing
