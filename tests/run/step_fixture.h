// A production step run as a port's worker runs it: on its own thread, against one reader of a
// simulated farm, with the station state the scan left. The step's requests are recorded, and what
// it shows goes through the window's own port display onto recording controls, so a test can
// check what the step did and in which order.
#pragma once

#include "app/window_port_display.h"
#include "channel/command_blocks.h"
#include "discovery/scans.h"
#include "platform/sim/farm.h"
#include "run/steps.h"
#include "support/fake_platform.h"
#include "support/farm_text.h"
#include "support/recording_controls.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvix::run_test {

using Bytes = std::vector<std::uint8_t>;
using testing::fault;

inline const std::string kClosed = "m_hUSBDeviceHandle close handle";
inline constexpr std::uint8_t kSubCapacity = 0x11;
inline constexpr std::uint8_t kSubWriteCard = 0x13;
inline constexpr std::uint8_t kSubReInitialCard = 0x38;
inline constexpr std::uint8_t kSubSetCdRomSize = 0x30;
inline constexpr std::uint8_t kSubFactoryDefault = 0x3F;
inline constexpr std::uint8_t kSubSetBinAreaSize = 0x40;
// Model rows of the controller list.
inline constexpr int kRowVq305a = 5;
inline constexpr int kRowVq301cA1Lun = 3;

// One request a step sent: its operation code and vendor sub-code, and for READ(10) and WRITE(10)
// its logical block, its length and, for writes, its data.
struct SentRequest {
  std::uint8_t op = 0;
  std::uint8_t subCode = 0;
  std::uint32_t block = 0;
  std::uint32_t bytes = 0;
  Bytes data;

  bool isRead() const { return op == channel::kRead10; }
  bool isWrite() const { return op == channel::kWrite10; }
};

class RecordingReaders final : public platform::ReaderAccess {
public:
  explicit RecordingReaders(platform::ReaderAccess& inner) : inner_(inner) {}
  platform::ReaderHandle open(std::string_view name) override { return inner_.open(name); }
  void close(platform::ReaderHandle handle) override { inner_.close(handle); }
  bool send(platform::ReaderHandle handle, platform::PassThroughRequest& request) override {
    const auto& cdb = request.commandBlock;
    SentRequest sent{cdb[0], cdb[1], 0, 0, {}};
    if (sent.isRead() || sent.isWrite()) {
      sent.block = std::uint32_t{cdb[2]} << 24 | std::uint32_t{cdb[3]} << 16 |
                   std::uint32_t{cdb[4]} << 8 | cdb[5];
      sent.bytes = request.dataLength;
      if (sent.isWrite()) sent.data.assign(request.data, request.data + request.dataLength);
    }
    const bool ok = inner_.send(handle, request);
    std::lock_guard lock(mutex_);
    sent_.push_back(std::move(sent));
    return ok;
  }
  std::vector<SentRequest> sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  std::vector<SentRequest> blockTransfers() const {
    auto out = sent();
    std::erase_if(out, [](const SentRequest& s) { return !s.isRead() && !s.isWrite(); });
    return out;
  }
  // The sub-codes of the vendor requests, in the order they were sent.
  Bytes vendorOrder() const {
    Bytes out;
    for (const auto& s : sent())
      if (s.op == channel::kVendorOperationCode) out.push_back(s.subCode);
    return out;
  }
  int vendorCount(std::uint8_t subCode) const {
    return static_cast<int>(std::ranges::count(vendorOrder(), subCode));
  }
  void clear() {
    std::lock_guard lock(mutex_);
    sent_.clear();
  }

private:
  platform::ReaderAccess& inner_;
  mutable std::mutex mutex_;
  std::vector<SentRequest> sent_;
};

// The farm's clock, whose tick a test may pin so that a step's draws repeat from run to run.
class PinnableClock final : public platform::Clock {
public:
  explicit PinnableClock(platform::Clock& inner) : inner_(inner) {}
  std::uint64_t tickMs() const override { return pinned_ ? *pinned_ : inner_.tickMs(); }
  void sleepMs(std::uint32_t ms) override { inner_.sleepMs(ms); }
  std::chrono::nanoseconds realDuration(std::uint32_t ms) const override {
    return inner_.realDuration(ms);
  }
  platform::LocalTime localTime() const override { return inner_.localTime(); }
  void pin(std::uint64_t tick) { pinned_ = tick; }

private:
  platform::Clock& inner_;
  std::optional<std::uint64_t> pinned_;
};

using Step = std::function<bool(const run::StepContext&, int, station::PortRecord&)>;

class StepOnFarm : public ::testing::Test {
protected:
  // One reader of `model` (row `icType`) on root port 1, mapped and probed as the station's scan
  // does; `card` holds its card fields and faults. Cards under 1 MiB are refused by the probe, but
  // their drives are still mapped. The run's options start empty but for the model.
  void start(const std::string& card, const std::string& model = "VQ305A", int icType = kRowVq305a,
             bool accepted = true) {
    farm.reset();
    dir = std::make_unique<testing::TempDir>();
    std::string error;
    farm =
        platform::sim::Farm::fromText(testing::farmText(testing::farmReader(1, "r1", model, card)),
                                      "test farm", dir->path(), error);
    ASSERT_TRUE(farm) << error;
    readers = std::make_unique<RecordingReaders>(farm->readerAccess());
    clock = std::make_unique<PinnableClock>(farm->clock());
    platform = std::make_unique<platform::Platform>(platform::Platform{
        *clock, trace, system, farm->drives(), farm->usbTree(), *readers, farm->volumes()});
    state = std::make_unique<station::StationState>();
    images = {};
    outcome = {};
    serials.startFrom("000000000041");
    serials.keepIn(dir->path() / "TarvixValue.ini");
    testing::RecordingControls window; // what the scan shows is not the steps'
    discovery::Scanner(*platform, window, *state).fullScan({.noHubMap = true}, {icType, 0});
    ASSERT_EQ(port().ready, accepted);
    driveIndex_ = port().driveIndex[0];
    ASSERT_NE(driveIndex_, station::kNoDrive);
    slot_ = state->driveRecords[driveIndex_].slot;
    controls = std::make_unique<testing::RecordingControls>();
    options = {};
    options.icType = icType;
    readers->clear();
    trace.clear();
  }

  // A step's context with the options as they are now, as a run prepared at this moment would
  // freeze them. Any thread.
  run::StepContext context() {
    std::lock_guard lock(optionsMutex_);
    run::StepContext c{*platform, std::make_shared<app::WindowPortDisplay>(*controls),
                       *state,    frozen_.emplace_back(options),
                       images,    serials};
    c.outcome = &outcome;
    return c;
  }
  // Runs `work` on a worker thread, as the port's worker would.
  template <typename Work> auto onWorker(Work work) {
    decltype(work()) result{};
    std::thread([&] { result = work(); }).join();
    return result;
  }
  // Runs `step` with the first LUN's drive index and the port record.
  bool runStep(const Step& step) {
    return onWorker([&] { return step(context(), driveIndex_, port()); });
  }

  station::PortRecord& port() { return state->ports[0]; }
  int drive() const { return driveIndex_; }
  // The last line a step showed on the slot of LUN `lun`; empty when none did.
  std::string line(int lun = 1) {
    const auto texts = lines(lun);
    return texts.empty() ? "" : texts.back();
  }
  std::vector<std::string> lines(int lun = 1) {
    return controls->texts(station::resultLineId(slot_ + lun - 1));
  }
  station::SlotColour colour() { return controls->get(station::resultLineId(slot_)).colour; }
  std::vector<int> progress() { return controls->progress(station::progressBarId(1)); }
  std::string lastTrace() { return trace.lines().back(); }
  // Trace lines that are `text`, or with `prefix`, begin with it.
  int traced(std::string_view text, bool prefix = false) {
    int n = 0;
    for (const auto& l : trace.lines())
      n += prefix ? l.starts_with(text) : l == text;
    return n;
  }

  // The card image, byte-addressed; disk() places the first LUN's public disk inside it.
  platform::sim::DiskExtent disk() { return *farm->publicDisk(farm->letters("r1").at(0)); }
  Bytes readImage(std::uint64_t offset, std::size_t length) {
    std::ifstream in(farm->cardImagePath("r1"), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    Bytes bytes(length);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    EXPECT_EQ(in.gcount(), static_cast<std::streamsize>(length));
    return bytes;
  }
  void writeImage(std::uint64_t offset, const Bytes& bytes) {
    std::fstream out(farm->cardImagePath("r1"), std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  Bytes readDisk(std::uint64_t sector, std::uint64_t sectors) {
    return readImage(disk().firstByte + sector * 512, static_cast<std::size_t>(sectors * 512));
  }
  void fillDisk(std::uint64_t sector, std::uint64_t sectors, std::uint8_t value) {
    writeImage(disk().firstByte + sector * 512,
               Bytes(static_cast<std::size_t>(sectors * 512), value));
  }
  std::uint64_t diskSectors() { return disk().bytes / 512; }

  std::unique_ptr<testing::TempDir> dir;
  std::unique_ptr<platform::sim::Farm> farm;
  platform::CapturingTrace trace;
  testing::FakeSystem system;
  std::unique_ptr<RecordingReaders> readers;
  std::unique_ptr<PinnableClock> clock;
  std::unique_ptr<platform::Platform> platform;
  std::unique_ptr<station::StationState> state;
  std::unique_ptr<testing::RecordingControls>
      controls;            // what the steps showed, as the window would
  run::RunOptions options; // what the next context() freezes
  run::LoadedImages images;
  run::SerialCounter serials;
  run::PortOutcome outcome; // what the steps noted

private:
  std::mutex optionsMutex_;
  std::list<run::RunOptions> frozen_; // every context's, alive as long as the test
  int driveIndex_ = 0;
  int slot_ = 0;
};

inline bool allEqual(const Bytes& bytes, std::uint8_t value) {
  return std::ranges::all_of(bytes, [&](std::uint8_t b) { return b == value; });
}

// Names a parameterised case by its first member.
inline constexpr auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

} // namespace tarvix::run_test
