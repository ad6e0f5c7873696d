// A reader backend for channel tests: records every request it is sent (block, frame, direction,
// lengths, time-out, the data of writes and where it lived) and answers from a script.
#pragma once

#include "platform/clock.h"
#include "platform/reader_access.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace tarvix::testing {

struct Reply {
  bool ok = true;
  int errorCode = 0;
  std::vector<std::uint8_t> data; // written into In requests; may be shorter than asked for
  std::uint8_t senseKey = 0;      // of a refusal
};

struct SentRequest {
  platform::PassThroughRequest request; // as sent, with `data` still pointing where it did
  std::vector<std::uint8_t> outData;    // the bytes of an Out request
  bool inAreaWasZero = true;            // an In request's area arrived all zeros
};

class RecordingAccess final : public platform::ReaderAccess {
public:
  platform::ReaderHandle open(std::string_view) override {
    std::lock_guard lock(mutex_);
    ++openCalls;
    if (openFailures < 0 || openCalls <= openFailures) return platform::kNoReader;
    return 42;
  }

  bool send(platform::ReaderHandle handle, platform::PassThroughRequest& request) override {
    std::lock_guard lock(mutex_);
    SentRequest sent{request, {}, true};
    sent.request.errorCode = handle == 42 ? 0 : -1; // a wrong handle shows up in the record
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
    if (reply.ok && request.direction == platform::DataDirection::In)
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

  // Scripted answers, one per request; an empty script answers success with no data.
  std::deque<Reply> replies;
  int openFailures = 0; // attempts that fail before one succeeds; negative: every attempt fails
  int openCalls = 0;
  std::vector<SentRequest> sentRequests;
  std::vector<platform::ReaderHandle> closedHandles;

private:
  std::mutex mutex_;
};

// Counts waits instead of making them.
class RecordingClock final : public platform::Clock {
public:
  std::uint64_t tickMs() const override { return nowMs; }
  void sleepMs(std::uint32_t ms) override {
    sleeps.push_back(ms);
    nowMs += ms;
  }
  std::chrono::nanoseconds realDuration(std::uint32_t) const override { return {}; }
  platform::LocalTime localTime() const override { return {}; }

  std::uint64_t nowMs = 0;
  std::vector<std::uint32_t> sleeps;
};

} // namespace tarvix::testing
