// A whole station (window model, headless host) on a simulated farm built from JSON text, with its
// cards in a temporary folder. The farm's clock runs a thousand times faster than real time.
#pragma once

#include "app/station_report.h"
#include "app/station_window.h"
#include "platform/sim/farm.h"
#include "station/control_ids.h"
#include "support/fake_platform.h"
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
  StationOnFarm(const std::string& farmJson, const std::string& settings) {
    dir_ = makeTestFolder("tarvix-e2e-");
    std::string error;
    farm = platform::sim::Farm::fromText(farmJson, "test farm", dir_, error);
    if (!farm) throw std::runtime_error(error);
    system.executable = dir_ / "tarvix";
    std::ofstream(dir_ / "TarvixValue.ini", std::ios::binary) << settings;
    platform_ = std::make_unique<platform::Platform>(
        platform::Platform{farm->clock(), trace, system, farm->drives(), farm->usbTree(),
                           farm->readerAccess(), farm->volumes()});
    window = std::make_unique<app::StationWindow>(*platform_, host);
  }
  ~StationOnFarm() {
    window.reset();
    farm.reset();
    std::filesystem::remove_all(dir_);
  }

  void start() {
    host.runAndWait([&] { window->initialise(); });
  }
  // Presses Auto Start and waits until the run has ended by itself.
  bool runOnce(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    host.runAndWait([&] { window->onClicked(station::id::kAutoStart); });
    return waitFor([&] { return window->runEnded(); }, limit);
  }
  std::filesystem::path dir() const { return dir_; }
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
  std::filesystem::path dir_;
  std::unique_ptr<platform::Platform> platform_;
};

// What an mtools command prints, standard error included.
inline std::string mtools(const std::string& command) { return shell(command).output; }

// A reader entry of a farm file.
inline std::string farmReader(int port, const std::string& id, const std::string& model, int mib) {
  return R"({"port": )" + std::to_string(port) + R"(, "reader": {"id": ")" + id +
         R"(", "model": ")" + model + R"(", "cardMiB": )" + std::to_string(mib) + "}}";
}

} // namespace tarvix::testing
