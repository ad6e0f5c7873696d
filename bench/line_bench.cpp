// Serial numbers taken from one line series by several stations at once, each a process of its
// own with its 21 workers taking as fast as the line gives, as a production run's workers would.
// Prints the numbers taken per second in all and how far that is above a line's need.
// Usage: line_bench CONNINFO STATIONS SECONDS
#include "line/line_station.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarvix;

constexpr int kReaders = 21;
// A card takes about a minute to prepare: one number per reader per minute.
constexpr double kNeedPerReaderPerSecond = 1.0 / 60.0;

class NoTrace final : public platform::TraceSink {
public:
  void line(std::string_view) override {}
};

// One station: its workers take until `seconds` have passed; the count goes to `out`.
[[noreturn]] void runStation(const std::string& connection, int n, double seconds, int out) {
  NoTrace trace;
  const auto spool =
      std::filesystem::temp_directory_path() / ("line-bench-" + std::to_string(::getpid()));
  line::LineStation line({connection, "default", "bench" + std::to_string(n), spool}, trace,
                         [](const std::string&) {});
  std::atomic<long> taken{0};
  std::atomic<long> failed{0};
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::vector<std::thread> workers;
  for (int port = 1; port <= kReaders; ++port) {
    workers.emplace_back([&, port] {
      std::string why;
      while (std::chrono::steady_clock::now() < until)
        ++(line.take(port, why) ? taken : failed);
    });
  }
  for (std::thread& w : workers)
    w.join();
  std::filesystem::remove(spool);
  const long counts[2] = {taken.load(), failed.load()};
  const bool written = ::write(out, counts, sizeof counts) == sizeof counts;
  std::_Exit(written ? 0 : 1);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: line_bench CONNINFO STATIONS SECONDS\n");
    return 2;
  }
  const std::string connection = argv[1];
  const int stations = std::atoi(argv[2]);
  const double seconds = std::atof(argv[3]);
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return 1;
  const auto start = std::chrono::steady_clock::now();
  for (int n = 0; n < stations; ++n) {
    if (::fork() == 0) runStation(connection, n, seconds, pipeEnds[1]);
  }
  ::close(pipeEnds[1]);
  long taken = 0;
  long failed = 0;
  for (long counts[2]; ::read(pipeEnds[0], counts, sizeof counts) == sizeof counts;) {
    taken += counts[0];
    failed += counts[1];
  }
  bool allEnded = true;
  for (int status = 0; ::wait(&status) > 0;)
    allEnded = allEnded && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate = static_cast<double>(taken) / elapsed;
  const double need = stations * kReaders * kNeedPerReaderPerSecond;
  std::printf("%d stations x %d workers, %.1f s: %ld serial numbers taken (%ld refused), "
              "%.0f per second\n",
              stations, kReaders, elapsed, taken, failed, rate);
  std::printf("need: %d readers x 1 per minute = %.2f per second; headroom %.0f times\n",
              stations * kReaders, need, rate / need);
  return allEnded && failed == 0 ? 0 : 1;
}
