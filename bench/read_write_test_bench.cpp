// The read/write test step alone on one farm card: runs ROUNDS rounds and prints the bytes its
// READ(10)s and WRITE(10)s moved, and the step's wall and CPU seconds, as
// "read BYTES written BYTES wall SECONDS cpu SECONDS". bench/read_write_test.sh sets dd to the
// same bytes. Usage: read_write_test_bench CARD_MIB ROUNDS SCRATCH_DIR
#include "channel/command_blocks.h"
#include "platform/sim/farm.h"
#include "run/steps.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

using namespace tarvix;

// Counts the block transfers' bytes on their way to the farm.
class CountingReaders final : public platform::ReaderAccess {
public:
  explicit CountingReaders(platform::ReaderAccess& inner) : inner_(inner) {}
  platform::ReaderHandle open(std::string_view name) override { return inner_.open(name); }
  void close(platform::ReaderHandle handle) override { inner_.close(handle); }
  bool send(platform::ReaderHandle handle, platform::PassThroughRequest& request) override {
    const std::uint8_t op = request.commandBlock[0];
    if (op == channel::kRead10) read += request.dataLength;
    if (op == channel::kWrite10) written += request.dataLength;
    return inner_.send(handle, request);
  }
  std::uint64_t read = 0;
  std::uint64_t written = 0;

private:
  platform::ReaderAccess& inner_;
};

class NoSystem final : public platform::SystemServices {
public:
  std::uint64_t availableMemoryBytes() const override { return 0; }
  std::string systemLocale() const override { return {}; }
  std::string hostName() const override { return {}; }
  std::filesystem::path executablePath() const override { return {}; }
  bool acquireInstanceLock(const std::string&) override { return true; }
  void applySystemAdjustments() override {}
  platform::ProcessOutcome runHidden(const std::vector<std::string>&,
                                     const std::vector<std::string>&, const std::filesystem::path&,
                                     std::chrono::nanoseconds,
                                     const std::function<bool()>&) override {
    return {};
  }
};

class NoDisplay final : public run::PortDisplay {
public:
  void showLine(int, const std::string&) override {}
  void showColour(int, station::SlotColour) override {}
  void setProgressRange(int, int, int) override {}
  void setProgress(int, int) override {}
  void showPicture(int, int) override {}
  void showSerial(const std::string&) override {}
  void messageBox(const std::string&) override {}
};

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: read_write_test_bench CARD_MIB ROUNDS SCRATCH_DIR\n");
    return 2;
  }
  std::string error;
  auto farm = platform::sim::Farm::fromText(
      std::string(R"({"imageDir": "img", "timeScale": 0.001, "hostControllers": [
        {"rootHubPorts": 1, "attached": [{"port": 1, "reader": {"id": "r1",
        "model": "VQ301C-A-1LUN", "cardMiB": )") +
          argv[1] + "}}]}]}",
      "bench farm", argv[3], error);
  if (!farm) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  CountingReaders readers(farm->readerAccess());
  platform::CapturingTrace trace;
  NoSystem system;
  platform::Platform platform{farm->clock(),   trace,   system,         farm->drives(),
                              farm->usbTree(), readers, farm->volumes()};
  station::StationState state;
  const int driveIndex = farm->letters("r1").at(0) - 'A';
  state.driveRecords[driveIndex].slot = 1;
  state.driveRecords[driveIndex].lun = 1;
  run::RunOptions options;
  options.readWriteTest = true;
  options.rwTestCount = std::atoi(argv[2]);
  const run::LoadedImages images;
  run::SerialCounter serials;
  const run::StepContext context{platform, std::make_shared<NoDisplay>(), state, options, images,
                                 serials};

  const auto wallStart = std::chrono::steady_clock::now();
  const double cpuStart = cpuSeconds();
  const bool passed = run::readWriteTestStep(context, driveIndex, state.port(1), 1);
  const double cpu = cpuSeconds() - cpuStart;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  if (!passed) {
    std::fprintf(stderr, "the step failed\n");
    return 1;
  }
  std::printf("read %llu written %llu wall %.3f cpu %.3f\n",
              static_cast<unsigned long long>(readers.read),
              static_cast<unsigned long long>(readers.written), wall, cpu);
  return 0;
}
