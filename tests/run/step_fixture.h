// A production step run as a port's worker runs it: on its own thread, against one reader of a
// simulated farm, with a station window behind it. The step's requests, result lines and progress
// positions are recorded on the way, so a test can check what the step did and in which order.
#pragma once

#include "channel/command_blocks.h"
#include "e2e/station_on_farm.h"
#include "run/steps.h"
#include "station/control_ids.h"

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

using testing::StationOnFarm;
using Bytes = std::vector<std::uint8_t>;
namespace id = station::id;

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

// Forwards every control operation to the window, keeping the texts and progress positions the
// step set, in order. Message boxes are recorded and answered at once, as an operator's OK.
class RecordingControls final : public station::WindowControls {
public:
  explicit RecordingControls(station::WindowControls& window) : window_(window) {}
  void setText(int id, const std::string& t) override {
    note(texts_, id, t);
    window_.setText(id, t);
  }
  std::string text(int id) const override { return window_.text(id); }
  int number(int id) const override { return window_.number(id); }
  bool checked(int id) const override { return window_.checked(id); }
  void setChecked(int id, bool c) override { window_.setChecked(id, c); }
  void enable(int id, bool e) override { window_.enable(id, e); }
  void show(int id, bool v) override { window_.show(id, v); }
  void setPicture(int id, int p) override { window_.setPicture(id, p); }
  void setProgressRange(int id, int l, int h) override { window_.setProgressRange(id, l, h); }
  void setProgress(int id, int position) override {
    note(progress_, id, position);
    window_.setProgress(id, position);
  }
  void addRow(int id, const std::string& row) override { window_.addRow(id, row); }
  int selectedRow(int id) const override { return window_.selectedRow(id); }
  void setSelectedRow(int id, int row) override { window_.setSelectedRow(id, row); }
  void setFont(int id, station::FontChoice f) override { window_.setFont(id, f); }
  void messageBox(const std::string& t) override { note(boxes_, t); }

  std::vector<std::string> texts(int id) const {
    std::lock_guard lock(mutex_);
    return texts_.contains(id) ? texts_.at(id) : std::vector<std::string>{};
  }
  std::vector<int> progress(int id) const {
    std::lock_guard lock(mutex_);
    return progress_.contains(id) ? progress_.at(id) : std::vector<int>{};
  }
  std::vector<std::string> boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
  }

private:
  template <typename T> void note(std::vector<T>& list, const T& value) {
    std::lock_guard lock(mutex_);
    list.push_back(value);
  }
  // The map itself changes under the lock too: workers show texts at once.
  template <typename T> void note(std::map<int, std::vector<T>>& lists, int id, const T& value) {
    std::lock_guard lock(mutex_);
    lists[id].push_back(value);
  }
  station::WindowControls& window_;
  mutable std::mutex mutex_;
  std::map<int, std::vector<std::string>> texts_;
  std::map<int, std::vector<int>> progress_;
  std::vector<std::string> boxes_;
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
  // One reader of `model` (row `icType`) on root port 1; `card` holds its card fields and faults.
  // Cards under 1 MiB are refused by the probe, but their drives are still mapped. Without
  // `settings` the station has only the model chosen.
  void start(const std::string& card, const std::string& model = "VQ305A", int icType = kRowVq305a,
             bool accepted = true, const std::string& settings = "") {
    const std::string farm =
        R"({"imageDir": "img", "timeScale": 0.0001, "hostControllers": [{"rootHubPorts": 2,
        "attached": [{"port": 1, "reader": {"id": "r1", "model": ")" +
        model + R"(", )" + card + "}}]}]}";
    station = std::make_unique<StationOnFarm>(
        farm, !settings.empty() ? settings
                                : "[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=" +
                                      std::to_string(icType) + "\r\n");
    station->start();
    ASSERT_EQ(port().ready, accepted);
    driveIndex_ = port().driveIndex[0];
    ASSERT_NE(driveIndex_, station::kNoDrive);
    slot_ = station->window->driveRecords[driveIndex_].slot;
    readers = std::make_unique<RecordingReaders>(station->farm->readerAccess());
    controls = std::make_unique<RecordingControls>(*station->window);
    clock = std::make_unique<PinnableClock>(station->farm->clock());
    platform = std::make_unique<platform::Platform>(
        platform::Platform{*clock, station->trace, station->system, station->farm->drives(),
                           station->farm->usbTree(), *readers, station->farm->volumes()});
    station->trace.clear();
  }

  void check(int id, bool on) {
    station->host.runAndWait([&] { station->window->setChecked(id, on); });
  }
  // A step's context with the run options as the window's controls say now, as a run prepared
  // at this moment would freeze them. Any thread.
  run::StepContext context() {
    run::RunOptions now;
    station->host.runAndWait([&] { now = station->window->readRunOptions(); });
    std::lock_guard lock(optionsMutex_);
    return {*platform, *controls, *station->window, options_.emplace_back(std::move(now)),
            station->window->languageOffset()};
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

  station::PortRecord& port() { return station->window->ports[0]; }
  int drive() const { return driveIndex_; }
  // The slot as it was when the reader was mapped; a pulled reader's records are cleared.
  std::string line(int lun = 1) {
    return station->window->text(station::resultLineId(slot_ + lun - 1));
  }
  station::SlotColour colour() { return station->window->colourOf(slot_); }
  std::vector<std::string> lines() { return controls->texts(station::resultLineId(slot_)); }
  std::vector<int> progress() { return controls->progress(station::progressBarId(1)); }
  std::string lastTrace() { return station->trace.lines().back(); }
  // Trace lines that are `text`, or with `prefix`, begin with it.
  int traced(std::string_view text, bool prefix = false) {
    int n = 0;
    for (const auto& l : station->trace.lines())
      n += prefix ? l.starts_with(text) : l == text;
    return n;
  }

  // The card image, byte-addressed; disk() places the first LUN's public disk inside it.
  platform::sim::DiskExtent disk() {
    return *station->farm->publicDisk(station->farm->letters("r1").at(0));
  }
  Bytes readImage(std::uint64_t offset, std::size_t length) {
    std::ifstream in(station->farm->cardImagePath("r1"), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    Bytes bytes(length);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    EXPECT_EQ(in.gcount(), static_cast<std::streamsize>(length));
    return bytes;
  }
  void writeImage(std::uint64_t offset, const Bytes& bytes) {
    std::fstream out(station->farm->cardImagePath("r1"),
                     std::ios::binary | std::ios::in | std::ios::out);
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

  std::unique_ptr<StationOnFarm> station;
  std::unique_ptr<RecordingReaders> readers;
  std::unique_ptr<RecordingControls> controls;
  std::unique_ptr<PinnableClock> clock;
  std::unique_ptr<platform::Platform> platform;

private:
  std::mutex optionsMutex_;
  std::list<run::RunOptions> options_; // every context's, alive as long as the test
  int driveIndex_ = 0;
  int slot_ = 0;
};

// A pulled reader's slot is cleared by the removal scan whenever that lands, so only the lines the
// step showed tell how it ended.
inline bool pulled(std::string_view faults) { return faults.find(R"("pull")") != faults.npos; }

inline bool allEqual(const Bytes& bytes, std::uint8_t value) {
  return std::ranges::all_of(bytes, [&](std::uint8_t b) { return b == value; });
}

// Names a parameterised case by its first member.
inline constexpr auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

} // namespace tarvix::run_test
