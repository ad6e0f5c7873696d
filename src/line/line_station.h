// A station on a production line: its serial numbers come from the line's series, and every
// finished port's production record goes into the line's records. Records pass through the spool,
// so a line that is down costs no record and sends none twice; a background thread sends them, in
// the order the ports finished, whenever the line can be reached. Numbers taken are recorded in
// the line before a card gets one; at a port's end the one its reader holds becomes used and any
// other it took void, and numbers an earlier run of this station left unsettled (it was ended
// mid-run) become void once its spool has reached the line.
#pragma once

#include "line/database.h"
#include "line/spool.h"
#include "log/production_record.h"
#include "platform/trace.h"
#include "station/numbering.h"
#include "station/serial_source.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvix::line {

struct LineConfig {
  std::string connection; // checked with connectionRefusal() first
  std::string series;     // the serial series numbers are taken from
  std::string station;    // the station's name in the line
  std::filesystem::path spool;
  // How long a take waits for a line that went away (a database restart takes seconds) before
  // its card fails.
  std::chrono::milliseconds patience{15000};
};

// Thread-safe: workers take and add at once; the window thread asks ready().
class LineStation final : public station::SerialSource, public log::ProductionLog {
public:
  // `warn` hears, once, that the spool cannot be written (from the thread that found it). Starts
  // the sending thread, which first sends what an earlier run left in the spool.
  LineStation(LineConfig config, platform::TraceSink& trace,
              std::function<void(const std::string&)> warn);
  // Stops the sending thread; what is not sent stays in the spool for the next start.
  ~LineStation() override;

  bool ready(std::string& why) override;
  std::optional<std::string> take(int port, std::string& why) override;
  // Into the spool before it returns; sent soon after.
  void add(const log::ProductionRecord& record) override;

  // Whether the spool can be written, and what to tell the operator when not.
  bool spoolWritable() const;
  std::string spoolTrouble() const;

  // Waits, at most `patience`, for the spool to reach the line; how many records still wait.
  std::size_t drain(std::chrono::milliseconds patience);

private:
  struct Take {
    std::string id;
    std::string serial; // empty when its answer was lost
  };
  void sendLoop();
  // True when the spool was empty or all of it reached the line.
  bool sendPending();

  const LineConfig config_;
  platform::TraceSink& trace_;
  std::function<void(const std::string&)> warn_;
  const std::string session_; // this run of the station, unique to it
  Spool spool_;

  std::mutex takeMutex_;
  Database takes_;
  std::uint64_t nextTake_ = 0;
  bool outage_ = false; // the last take found the line unreachable: the next tries only once

  std::mutex portsMutex_;
  std::array<std::vector<Take>, station::kPortCount + 1> taken_; // per port, this run
  std::uint64_t nextRecord_ = 0;
  bool spoolWarned_ = false;

  Database sends_; // the sending thread's own
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool work_ = true;
  bool spoolEmpty_ = false;
  std::thread sender_;
};

} // namespace tarvix::line
