// How often a busy port wakes the window thread, and how often a resting station does: the
// station on a headless host, which counts every task and timer its window thread runs, low-level
// formats one farm card in real time, then rests. Prints
// "busy WAKES_PER_SECOND over SECONDS s, busiest second WAKES, resting WAKES_PER_SECOND".
// Usage: window_wakes_bench SCRATCH_DIR
#include "app/station_window.h"
#include "platform/linux/linux_system.h"
#include "platform/sim/farm.h"
#include "station/control_ids.h"
#include "ui/headless/headless_host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
  using namespace tarvix;
  using Clock = std::chrono::steady_clock;
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_wakes_bench SCRATCH_DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::string error;
  // 32 MiB written at 15 MB/s and read back at 20 MB/s: about four seconds of one busy port.
  auto farm = platform::sim::Farm::fromText(
      R"({"imageDir": "img", "timeScale": 1.0, "hostControllers": [{"rootHubPorts": 1,
        "attached": [{"port": 1, "reader": {"id": "r1", "model": "VQ301C-A-1LUN",
        "cardMiB": 32, "readMBps": 20, "writeMBps": 15}}]}]})",
      "bench farm", dir, error);
  if (!farm) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::ofstream(dir / "wakes.ini", std::ios::binary)
      << "[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=3\r\nbCheckLowFormat=1\r\n"
         "nLLFSelect=3\r\n";
  platform::CapturingTrace trace;
  platform::linux_backend::LinuxSystem system;
  platform::Platform platform{farm->clock(),  trace,           system,
                              farm->drives(), farm->usbTree(), farm->readerAccess(),
                              farm->volumes()};
  ui::HeadlessHost host;
  app::StationWindow window(platform, host);
  window.setStationSettingsPath(dir / "wakes.ini");
  host.runAndWait([&] { window.initialise(); });

  std::atomic<bool> ended{false};
  std::thread waiter([&] {
    host.waitUntil([&] { return window.portStarted(1) && window.runEnded(); });
    ended = true;
  });
  // Counted second by second from here, after the waiting thread's own first look.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::uint64_t busyFrom = host.wakes();
  const auto started = Clock::now();
  host.runAndWait([&] { window.onClicked(station::id::kAutoStart); });
  std::uint64_t secondFrom = busyFrom;
  std::uint64_t busiest = 0;
  for (auto second = started + std::chrono::seconds(1); !ended; second += std::chrono::seconds(1)) {
    while (!ended && Clock::now() < second)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::uint64_t now = host.wakes();
    if (!ended) busiest = std::max(busiest, now - secondFrom);
    secondFrom = now;
  }
  waiter.join();
  const double busySeconds = std::chrono::duration<double>(Clock::now() - started).count();
  const auto busyWakes = static_cast<double>(host.wakes() - busyFrom);

  // The display timer lapses one period after the last change; then the station rests.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::uint64_t restFrom = host.wakes();
  constexpr double kRestSeconds = 2;
  std::this_thread::sleep_for(std::chrono::duration<double>(kRestSeconds));
  const auto restWakes = static_cast<double>(host.wakes() - restFrom);
  host.runAndWait([&] { window.close(); });
  std::printf("busy %.1f over %.1f s, busiest second %llu, resting %.1f\n", busyWakes / busySeconds,
              busySeconds, static_cast<unsigned long long>(busiest), restWakes / kRestSeconds);
  return 0;
}
