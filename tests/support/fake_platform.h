// Stand-ins for the platform: a fixed system, drive letters and a USB tree built in the test,
// readers that record every request and answer from a script, a clock that only counts, and a
// whole platform of them for the window's tests.
#pragma once

#include "platform/platform.h"

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tarvix::testing {

// Fixed locale, memory and host; child processes are not run.
class FakeSystem : public platform::SystemServices {
public:
  std::uint64_t availableMemoryBytes() const override { return memoryBytes; }
  std::string systemLocale() const override { return locale; }
  std::string hostName() const override { return "station-1"; }
  std::filesystem::path executablePath() const override { return executable; }
  bool acquireInstanceLock(const std::string&) override { return true; }
  void applySystemAdjustments() override { ++adjustments; }
  void ignoreSerialNumbersOf(std::string_view vendorId, std::string_view productId) override {
    ignoredIdentities.push_back(std::string(vendorId) + "/" + std::string(productId));
  }
  platform::ProcessOutcome runHidden(const std::vector<std::string>&,
                                     const std::vector<std::string>&, const std::filesystem::path&,
                                     std::chrono::nanoseconds,
                                     const std::function<bool()>&) override {
    return {};
  }

  std::uint64_t memoryBytes = 8ULL << 30;
  std::string locale = "en_US.UTF-8";
  std::filesystem::path executable = "/nonexistent/tarvix/tarvix";
  int adjustments = 0;
  std::vector<std::string> ignoredIdentities; // "VID/PID" as the run starts named them
};

// Counts waits instead of making them; its local time is pinned.
class RecordingClock final : public platform::Clock {
public:
  std::uint64_t tickMs() const override { return nowMs; }
  void sleepMs(std::uint32_t ms) override {
    sleeps.push_back(ms);
    nowMs += ms;
  }
  std::chrono::nanoseconds realDuration(std::uint32_t) const override { return {}; }
  platform::LocalTime localTime() const override { return local; }

  std::uint64_t nowMs = 0;
  std::vector<std::uint32_t> sleeps;
  platform::LocalTime local{2021, 11, 23, 13, 45, 7, 890};
};

// --- A USB tree and drive letters -------------------------------------------------------------

inline platform::UsbPort device(std::string key, char firstLetter) {
  platform::UsbPort p;
  p.attached = platform::UsbPort::Attached::Device;
  p.deviceKey = std::move(key);
  p.firstVolumeLetter = firstLetter;
  return p;
}
inline platform::UsbPort hub(std::vector<platform::UsbPort> ports) {
  platform::UsbPort p;
  p.attached = platform::UsbPort::Attached::Hub;
  p.ports = std::move(ports);
  return p;
}
// `n` empty ports with `at` (1-based) holding what is given.
inline std::vector<platform::UsbPort> ports(int n, std::map<int, platform::UsbPort> at = {}) {
  std::vector<platform::UsbPort> list(n);
  for (auto& [p, port] : at)
    list[p - 1] = port;
  return list;
}

// Letters in `mask` plus those in the table; only the table's can be inspected.
class FakeDrives final : public platform::Drives, public platform::UsbTree {
public:
  std::uint32_t logicalDriveMask() const override {
    std::uint32_t all = mask;
    for (auto& [letter, info] : drives)
      all |= 1U << (letter - 'A');
    return all;
  }
  std::optional<platform::DriveInfo> inspect(char letter) const override {
    auto it = drives.find(letter);
    if (it == drives.end()) return std::nullopt;
    return it->second;
  }
  void setEventListener(std::function<void(platform::DeviceEvent)> l) override { listener = l; }
  platform::UsbTopology snapshot() const override { return topology; }

  void add(char letter, std::string key, std::uint32_t number,
           platform::DriveType type = platform::DriveType::Removable) {
    drives[letter] = {number, type, std::move(key)};
  }

  std::uint32_t mask = 1U << 2;
  std::map<char, platform::DriveInfo> drives;
  platform::UsbTopology topology;
  std::function<void(platform::DeviceEvent)> listener;
};

// --- Readers ----------------------------------------------------------------------------------

// A scripted answer to one request.
struct Reply {
  bool ok = true;
  int errorCode = 0;
  // Written into In requests, a refused one too (a device may fail after part of the data came);
  // may be shorter than asked for.
  std::vector<std::uint8_t> data;
  std::uint8_t senseKey = 0; // of a refusal
};

struct SentRequest {
  platform::PassThroughRequest request; // as sent, with `data` still pointing where it did
  std::vector<std::uint8_t> outData;    // the bytes of an Out request
  bool inAreaWasZero = true;            // an In request's area arrived all zeros
};

// Records every request and answers it with the next scripted reply; without one, with success
// and no data. Each drive name opens as a handle of its own, the first as 42.
class FakeReaders final : public platform::ReaderAccess {
public:
  platform::ReaderHandle open(std::string_view name) override {
    std::lock_guard lock(mutex_);
    ++openCalls;
    if (openFailures < 0 || openCalls <= openFailures) return platform::kNoReader;
    auto it = std::find(names_.begin(), names_.end(), name);
    if (it == names_.end()) it = names_.insert(names_.end(), std::string(name));
    return kFirstHandle + (it - names_.begin());
  }

  bool send(platform::ReaderHandle handle, platform::PassThroughRequest& request) override {
    std::lock_guard lock(mutex_);
    const bool known = handle >= kFirstHandle && handle - kFirstHandle < std::ssize(names_);
    SentRequest sent{request, {}, true};
    sent.request.errorCode = known ? 0 : -1; // a wrong handle shows up in the record
    if (request.direction == platform::DataDirection::Out && request.dataLength > 0)
      sent.outData.assign(request.data, request.data + request.dataLength);
    if (request.direction == platform::DataDirection::In)
      sent.inAreaWasZero = std::all_of(request.data, request.data + request.dataLength,
                                       [](auto b) { return b == 0; });
    sentRequests.push_back(std::move(sent));

    Reply reply;
    if (!replies.empty()) {
      reply = std::move(replies.front());
      replies.pop_front();
    }
    if (request.direction == platform::DataDirection::In)
      std::copy_n(reply.data.begin(), std::min<std::size_t>(reply.data.size(), request.dataLength),
                  request.data);
    request.errorCode = reply.ok ? 0 : reply.errorCode;
    request.senseKey = reply.ok ? 0 : reply.senseKey;
    return reply.ok;
  }

  void close(platform::ReaderHandle handle) override {
    std::lock_guard lock(mutex_);
    closedHandles.push_back(handle);
  }

  std::deque<Reply> replies;
  int openFailures = 0; // attempts that fail before one succeeds; negative: every attempt fails
  int openCalls = 0;
  std::vector<SentRequest> sentRequests;
  std::vector<platform::ReaderHandle> closedHandles;

private:
  static constexpr platform::ReaderHandle kFirstHandle = 42;

  std::mutex mutex_;
  std::vector<std::string> names_;
};

class NoVolumes final : public platform::Volumes {
public:
  std::unique_ptr<platform::Volume> open(std::string_view) override { return nullptr; }
  bool rereadPartitionLayout(std::string_view) override { return false; }
  std::optional<std::string> copyTarget(std::string_view) const override { return std::nullopt; }
};

// For the window and its start-up: no USB devices, readers that never open, a captured trace,
// and a clock that runs a hundred times faster than real time.
struct FakePlatform {
  FakePlatform() { readers.openFailures = -1; }
  platform::ScaledClock clock{0.01};
  platform::CapturingTrace trace;
  FakeSystem system;
  FakeDrives drives;
  FakeReaders readers;
  NoVolumes volumes;
  platform::Platform platform{clock, trace, system, drives, drives, readers, volumes};
};

} // namespace tarvix::testing
