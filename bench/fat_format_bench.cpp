// Formats sparse card images with our FAT32 formatter and with mkfs.fat -F 32, in one run, and
// prints the time ratio and the bytes each writes.
//   fat_format_bench [--dir DIR] [--runs N] [GiB ...]     (default: 8 32)
#include "fat/fat_format.h"
#include "fat/layout.h"
#include "platform/clock.h"
#include "platform/linux/volume/image_volume.h"
#include "platform/trace.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Seconds = std::chrono::duration<double>;

class NullTrace final : public tarvix::platform::TraceSink {
public:
  void line(std::string_view) override {}
};

struct Result {
  double seconds = 0;
  std::uint64_t bytes = 0;
  bool ok = false;
};

void freshImage(const std::string& path, std::uint64_t bytes) {
  fs::remove(path);
  std::ofstream(path).close();
  fs::resize_file(path, bytes);
}

// "wchar" of /proc/<pid>/io: every byte the process handed to write calls.
std::uint64_t writtenBy(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  for (std::string key; io >> key;) {
    std::uint64_t value = 0;
    io >> value;
    if (key == "wchar:") return value;
  }
  return 0;
}

Result ours(const std::string& path, std::uint32_t sectors) {
  Result r;
  tarvix::platform::ScaledClock clock;
  NullTrace trace;
  const auto start = std::chrono::steady_clock::now();
  auto volume = tarvix::platform::linux_volume::ImageVolume::open(path);
  if (!volume) return r;
  tarvix::fat::CFAT32Format formatter(clock, trace);
  formatter.setLabel("BENCH");
  r.ok = formatter.format_volume(*volume, sectors); // ends with the dismount's fdatasync
  r.bytes = volume->bytesWritten();
  volume.reset();
  r.seconds = Seconds(std::chrono::steady_clock::now() - start).count();
  return r;
}

Result mkfsFat(const std::string& path) {
  Result r;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execlp("mkfs.fat", "mkfs.fat", "-F", "32", "-n", "BENCH", path.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid < 0) return r;
  // Wait for the exit but leave the child unreaped so its I/O counters can still be read.
  siginfo_t info{};
  ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  r.seconds = Seconds(std::chrono::steady_clock::now() - start).count();
  r.bytes = writtenBy(pid);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
  fs::path dir = fs::temp_directory_path();
  int runs = 5;
  std::vector<std::uint64_t> sizesGiB;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      sizesGiB.push_back(std::strtoull(arg.c_str(), nullptr, 10));
    }
  }
  if (sizesGiB.empty()) sizesGiB = {8, 32};

  const std::string path =
      (dir / ("tarvix-fat-bench-" + std::to_string(::getpid()) + ".img")).string();
  bool allOk = true;
  std::printf("%-8s %12s %12s %8s %14s %14s %14s\n", "size", "ours ms", "mkfs.fat ms", "ratio",
              "ours bytes", "mkfs bytes", "system area");
  for (const std::uint64_t gib : sizesGiB) {
    const std::uint64_t bytes = gib << 30;
    const auto sectors =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes / 512, 0xFFFFFFFE));
    std::vector<double> oursTimes, mkfsTimes;
    Result o, m;
    // Alternate the two so both see the same state of the page cache and the disk.
    for (int run = 0; run < runs; ++run) {
      freshImage(path, bytes);
      o = ours(path, sectors);
      oursTimes.push_back(o.seconds);
      freshImage(path, bytes);
      m = mkfsFat(path);
      mkfsTimes.push_back(m.seconds);
      allOk = allOk && o.ok && m.ok;
    }
    const auto layout = tarvix::fat::fat32Layout(sectors, 512);
    const double oursMs = median(oursTimes) * 1000, mkfsMs = median(mkfsTimes) * 1000;
    std::printf("%4llu GiB %12.2f %12.2f %8.2f %14llu %14llu %14llu\n",
                static_cast<unsigned long long>(gib), oursMs, mkfsMs, oursMs / mkfsMs,
                static_cast<unsigned long long>(o.bytes), static_cast<unsigned long long>(m.bytes),
                static_cast<unsigned long long>(std::uint64_t{layout.systemAreaSectors} * 512));
  }
  fs::remove(path);
  std::printf("ratio = ours / mkfs.fat (median of %d runs); bytes = bytes handed to write calls\n",
              runs);
  if (!allOk) std::fprintf(stderr, "a format failed\n");
  return allOk ? 0 : 1;
}
