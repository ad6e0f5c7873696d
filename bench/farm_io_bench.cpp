// The farm must never hide the station's own costs. First, 64 KiB WRITE(10)/READ(10) through an
// emulated controller (no bandwidth limit) against a plain pwrite/pread loop over the same chunks
// of the same card image, rounds interleaved in one run; the farm must reach 80 %. Second, seven
// readers on one 40 MB/s hub, each measured alone while all seven write.
// Exit status 0 when both hold.
#include "channel/command_blocks.h"
#include "platform/sim/farm.h"

#include <algorithm>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using tarvix::platform::sim::Farm;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kChunk = 65536;
constexpr std::uint32_t kChunks = 1024; // 64 MiB per pass
constexpr int kRounds = 7;

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::unique_ptr<Farm> makeFarm(const std::string& json, const std::filesystem::path& dir) {
  std::string error;
  auto farm = Farm::fromText(json, "bench farm", dir, error);
  if (!farm) std::fprintf(stderr, "%s\n", error.c_str());
  return farm;
}

// One pass of writes then reads; returns MB/s over both.
template <typename Write, typename Read> double pass(Write write, Read read, std::uint8_t* data) {
  const auto begin = Clock::now();
  for (std::uint32_t i = 0; i < kChunks; ++i)
    if (!write(i, data)) std::abort();
  for (std::uint32_t i = 0; i < kChunks; ++i)
    if (!read(i, data)) std::abort();
  return 2.0 * kChunks * kChunk / seconds(begin) / 1e6;
}

bool throughput(const std::filesystem::path& dir) {
  auto farm = makeFarm(R"({ "hostControllers": [ { "rootHubPorts": 1, "attached": [
      { "port": 1, "reader": { "id": "bench", "model": "VQ301A", "cardMiB": 128 } } ] } ] })",
                       dir);
  if (!farm) return false;
  auto& access = farm->readerAccess();
  const tarvix::platform::ReaderHandle handle = access.open("D:");
  const int fd = ::open(farm->cardImagePath("bench").c_str(), O_RDWR);
  if (handle == tarvix::platform::kNoReader || fd < 0) return false;
  std::vector<std::uint8_t> data(kChunk, 0x5A);
  // The public disk starts at the card's first sector on a fresh card, so block i * 128 is
  // byte i * 64 KiB of the image for both loops.
  const auto plainWrite = [&](std::uint32_t i, std::uint8_t* bytes) {
    return ::pwrite(fd, bytes, kChunk, static_cast<off_t>(i) * kChunk) == kChunk;
  };
  const auto plainRead = [&](std::uint32_t i, std::uint8_t* bytes) {
    return ::pread(fd, bytes, kChunk, static_cast<off_t>(i) * kChunk) == kChunk;
  };
  const auto farmWrite = [&](std::uint32_t i, std::uint8_t* bytes) {
    auto request = tarvix::channel::writeSectorRequest(i * 128, kChunk);
    request.data = bytes;
    return access.send(handle, request);
  };
  const auto farmRead = [&](std::uint32_t i, std::uint8_t* bytes) {
    auto request = tarvix::channel::readSectorRequest(i * 128, kChunk);
    request.data = bytes;
    return access.send(handle, request);
  };
  pass(plainWrite, plainRead, data.data()); // allocate the file's blocks before measuring
  std::vector<double> plain;
  std::vector<double> emulated;
  for (int round = 0; round < kRounds; ++round) {
    plain.push_back(pass(plainWrite, plainRead, data.data()));
    emulated.push_back(pass(farmWrite, farmRead, data.data()));
  }
  access.close(handle);
  ::close(fd);
  std::sort(plain.begin(), plain.end());
  std::sort(emulated.begin(), emulated.end());
  const double plainMedian = plain[kRounds / 2];
  const double farmMedian = emulated[kRounds / 2];
  const double ratio = farmMedian / plainMedian;
  std::printf("64 KiB chunks, %d rounds of %u MiB written and read, median:\n", kRounds,
              kChunks * kChunk >> 20);
  std::printf("  plain pwrite/pread      %8.0f MB/s\n", plainMedian);
  std::printf("  farm WRITE(10)/READ(10) %8.0f MB/s  (%.0f %% of plain; needs 80 %%)\n", farmMedian,
              ratio * 100);
  return ratio >= 0.8;
}

bool sharedHub(const std::filesystem::path& dir) {
  constexpr double kHubMBps = 40;
  constexpr int kReaders = 7;
  constexpr std::uint32_t kHubChunks = 48; // 3 MiB per reader, about half a second in all
  std::string attached;
  for (int port = 1; port <= kReaders; ++port)
    attached += (port > 1 ? ", " : "") + std::string(R"({ "port": )") + std::to_string(port) +
                R"(, "reader": { "id": "h)" + std::to_string(port) +
                R"(", "model": "VQ301A", "cardMiB": 8 } })";
  auto farm = makeFarm(R"({ "hostControllers": [ { "rootHubPorts": 1, "attached": [
      { "port": 1, "hub": { "ports": 7, "MBps": 40, "attached": [ )" +
                           attached + " ] } } ] } ] }",
                       dir);
  if (!farm) return false;
  std::vector<double> rates(kReaders);
  std::barrier start(kReaders);
  std::vector<std::thread> threads;
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      auto& access = farm->readerAccess();
      const auto handle = access.open(std::string(1, static_cast<char>('D' + r)) + ":");
      std::vector<std::uint8_t> data(kChunk, 1);
      start.arrive_and_wait();
      const auto begin = Clock::now();
      for (std::uint32_t i = 0; i < kHubChunks; ++i) {
        auto request = tarvix::channel::writeSectorRequest(i * 128, kChunk);
        request.data = data.data();
        if (!access.send(handle, request)) std::abort();
      }
      rates[r] = kHubChunks * double{kChunk} / seconds(begin) / 1e6;
      access.close(handle);
    });
  }
  for (auto& thread : threads)
    thread.join();
  std::printf("seven readers writing at once on one %.0f MB/s hub (a seventh is %.2f MB/s):\n",
              kHubMBps, kHubMBps / kReaders);
  bool fair = true;
  double total = 0;
  for (int r = 0; r < kReaders; ++r) {
    std::printf("  reader %d %6.2f MB/s\n", r + 1, rates[r]);
    fair = fair && std::abs(rates[r] - kHubMBps / kReaders) <= kHubMBps / kReaders * 0.15;
    total += rates[r];
  }
  std::printf("  together %.2f MB/s\n", total);
  return fair;
}

} // namespace

int main(int argc, char** argv) {
  const std::filesystem::path dir =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
  const std::filesystem::path work = dir / ("tarvix-farm-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(work);
  const bool fast = throughput(work / "throughput");
  const bool fair = sharedHub(work / "hub");
  std::filesystem::remove_all(work);
  std::printf("%s\n", fast && fair ? "PASS" : "FAIL");
  return fast && fair ? 0 : 1;
}
