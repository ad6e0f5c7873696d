#include "line/line_station.h"

#include "platform/files/shared_file.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

namespace tarvix::line {
namespace {

using Clock = std::chrono::steady_clock;

// How often a take and the sender try a line that cannot be reached.
constexpr auto kRetryPause = std::chrono::milliseconds(250);
constexpr auto kSendRetry = std::chrono::seconds(1);

constexpr const char* kSeriesLeft = "SELECT tarvix.series_left($1)";
constexpr const char* kTakeSerial = "SELECT tarvix.take_serial($1, $2, $3, $4, $5)";
constexpr const char* kAddRecord =
    "SELECT tarvix.add_record($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, "
    "$16, $17, $18)";
constexpr const char* kVoidLeftovers = "SELECT tarvix.void_leftovers($1, $2)";

// 128 random bits: no two runs of any station share one.
std::string newSession() {
  std::random_device random;
  std::string id;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    id += part;
  }
  return id;
}

// A text array as PostgreSQL reads it, every element quoted.
std::string arrayText(const std::vector<std::string>& items) {
  std::string text = "{";
  for (const std::string& item : items) {
    if (text.size() > 1) text += ',';
    text += '"';
    for (const char c : item) {
      if (c == '"' || c == '\\') text += '\\';
      text += c;
    }
    text += '"';
  }
  return text + "}";
}

std::string unreachable(const Reply& reply) {
  return "the line database cannot be reached (" + reply.error + ")";
}

// What the database said, in the operator's words where the station knows better.
std::string refusal(const Reply& reply) {
  // No such schema, or no such function: a database the line was never set up in.
  if (reply.state == "3F000" || reply.state == "42883") {
    return "the line database has no station schema, or an older one: run tarvix --line-init "
           "(" +
           reply.error + ")";
  }
  return "the line database refused: " + reply.error;
}

// The database's answer to the data itself (a value or a constraint), which no retry changes.
bool permanent(const Reply& reply) {
  return reply.state.starts_with("22") || reply.state.starts_with("23");
}

} // namespace

LineStation::LineStation(LineConfig config, platform::TraceSink& trace,
                         std::function<void(const std::string&)> warn)
    : config_(std::move(config)), trace_(trace), warn_(std::move(warn)), session_(newSession()),
      spool_(config_.spool), takes_(config_.connection), sends_(config_.connection) {
  sender_ = std::thread([this] { sendLoop(); });
}

LineStation::~LineStation() {
  {
    std::lock_guard lock(wakeMutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  sender_.join();
}

bool LineStation::ready(std::string& why) {
  std::lock_guard lock(takeMutex_);
  const Reply reply = takes_.run(kSeriesLeft, {config_.series});
  if (reply.unreachable) {
    why = unreachable(reply);
  } else if (!reply.ok) {
    why = refusal(reply);
  } else if (reply.rows.empty() || !reply.rows[0][0]) {
    why = "the line has no serial series \"" + config_.series + "\"";
  } else if (*reply.rows[0][0] == "0") {
    why = "serial series \"" + config_.series + "\" has no numbers left";
  } else {
    outage_ = false;
    return true;
  }
  return false;
}

std::optional<std::string> LineStation::take(int port, std::string& why) {
  std::lock_guard lock(takeMutex_);
  const int slot = std::clamp(port, 0, station::kPortCount);
  Take take{session_ + ":" + std::to_string(++nextTake_), {}};
  {
    // Noted before the line is asked: a number whose answer is lost is still written off.
    std::lock_guard ports(portsMutex_);
    taken_[slot].push_back(take);
  }
  // Asked again with the same take id, a number the line gave before the answer was lost comes
  // back as it was: retrying never spends a second one.
  const auto deadline = Clock::now() + config_.patience;
  for (;;) {
    const Reply reply = takes_.run(
        kTakeSerial, {config_.series, config_.station, session_, std::to_string(port), take.id});
    if (reply.ok && !reply.rows.empty() && reply.rows[0][0]) {
      outage_ = false;
      take.serial = *reply.rows[0][0];
      std::lock_guard ports(portsMutex_);
      for (Take& t : taken_[slot]) {
        if (t.id == take.id) t.serial = take.serial;
      }
      trace_.line("line: serial number " + take.serial + " taken for port " + std::to_string(port));
      return take.serial;
    }
    if (!reply.unreachable) {
      why = refusal(reply);
      return std::nullopt;
    }
    if (outage_ || Clock::now() >= deadline) {
      outage_ = true;
      why = unreachable(reply);
      return std::nullopt;
    }
    std::this_thread::sleep_for(kRetryPause);
  }
}

void LineStation::add(const log::ProductionRecord& record) {
  LineRecord line;
  line.station = config_.station;
  line.series = config_.series;
  line.finishedAt = log::timeText(record.time);
  line.host = record.host;
  line.port = record.port;
  line.usbPath = record.usbPath;
  line.drives = record.drives;
  line.model = record.model;
  line.capacityMiB = record.capacityMiB;
  line.serial = record.serial;
  line.vidPid = record.vidPid;
  line.steps = log::stepsText(record.steps);
  line.result = std::string(log::resultName(record.result));
  line.failure = record.failure;
  line.capacityCheck = record.capacityCheck;
  bool warn = false;
  {
    std::lock_guard lock(portsMutex_);
    line.recordId = session_ + "/" + std::to_string(++nextRecord_);
    const int slot = std::clamp(record.port, 0, station::kPortCount);
    for (const Take& t : taken_[slot]) {
      if (!record.serial.empty() && t.serial == record.serial && line.usedTake.empty()) {
        line.usedTake = t.id;
      } else {
        line.voidTakes.push_back(t.id);
      }
    }
    taken_[slot].clear();
    // Added under the lock, so the spool holds the records in the order they were numbered.
    if (!spool_.add(line)) warn = !std::exchange(spoolWarned_, true);
  }
  if (warn) {
    trace_.line("line: " + config_.spool.string() + ": cannot be written");
    warn_(spoolTrouble());
  }
  {
    std::lock_guard lock(wakeMutex_);
    work_ = true;
    spoolEmpty_ = false;
  }
  wake_.notify_all();
}

bool LineStation::spoolWritable() const {
  return platform::files::appendShared(config_.spool, {}, {}, false);
}

std::string LineStation::spoolTrouble() const {
  return config_.spool.string() +
         ": the line's spool cannot be written there, so finished ports are kept only in the "
         "production log, not sent to the line";
}

std::size_t LineStation::drain(std::chrono::milliseconds patience) {
  const auto deadline = Clock::now() + patience;
  std::unique_lock lock(wakeMutex_);
  // A pass of its own: the spool may have grown since the last one found it empty.
  work_ = true;
  spoolEmpty_ = false;
  wake_.notify_all();
  wake_.wait_until(lock, deadline, [&] { return spoolEmpty_; });
  if (spoolEmpty_) return 0;
  lock.unlock();
  return spool_.pending().records.size();
}

void LineStation::sendLoop() {
  bool leftoversVoided = false;
  std::unique_lock lock(wakeMutex_);
  while (!stopping_) {
    work_ = false;
    lock.unlock();
    bool empty = sendPending();
    if (empty && !leftoversVoided) {
      // Only now: a record still in the spool may name a number as used.
      const Reply reply = sends_.run(kVoidLeftovers, {config_.station, session_});
      leftoversVoided = reply.ok;
      if (reply.ok && !reply.rows.empty() && reply.rows[0][0] && *reply.rows[0][0] != "0") {
        trace_.line("line: " + *reply.rows[0][0] +
                    " serial numbers an earlier run left unsettled are void");
      }
      empty = reply.ok;
    }
    lock.lock();
    spoolEmpty_ = empty && !work_;
    if (spoolEmpty_) wake_.notify_all();
    if (stopping_) break;
    if (empty) {
      wake_.wait(lock, [&] { return stopping_ || work_; });
    } else {
      wake_.wait_for(lock, kSendRetry, [&] { return stopping_; });
    }
  }
}

bool LineStation::sendPending() {
  const Spool::Pending pending = spool_.pending();
  const std::filesystem::path refused = std::filesystem::path(config_.spool) += ".refused";
  // Kept beside the spool for a person to look at, rather than holding up the rest.
  for (const std::string& line : pending.unreadable) {
    trace_.line("line: a spool line that holds no record, kept in " + refused.string());
    if (!platform::files::appendShared(refused, {}, line + "\n", true)) return false;
  }
  if (pending.bytes == 0) return true;
  for (const LineRecord& r : pending.records) {
    const Reply reply = sends_.run(
        kAddRecord,
        {r.recordId, r.station, r.series, r.finishedAt, r.host, std::to_string(r.port), r.usbPath,
         r.drives, r.model, std::to_string(r.capacityMiB), r.serial, r.vidPid, r.steps, r.result,
         r.failure, r.capacityCheck, r.usedTake, arrayText(r.voidTakes)});
    if (reply.ok) continue;
    if (reply.unreachable || !permanent(reply)) {
      // Kept, and tried again in order: nothing after it goes first.
      trace_.line("line: record " + r.recordId + " not sent: " + reply.error);
      return false;
    }
    // Data the database will never take is set aside, and kept.
    trace_.line("line: record " + r.recordId + " refused, kept in " + refused.string() + ": " +
                reply.error);
    if (!platform::files::appendShared(refused, {}, spoolLine(r), true)) return false;
  }
  return spool_.sent(pending.bytes);
}

} // namespace tarvix::line
