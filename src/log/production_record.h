// One finished port as the production log keeps it: what was prepared, how, and how it ended.
// A worker fills it in while it runs and hands it to a ProductionLog when the port is done.
#pragma once

#include "platform/clock.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::log {

enum class PortResult { Pass, Fail, DefaultPass, ResetFail, Pulled };

struct StepRun {
  std::string name;
  std::uint64_t ms = 0; // station milliseconds
};

struct ProductionRecord {
  platform::LocalTime time; // when the port finished
  std::string host;
  int port = 0;
  std::string usbPath; // the reader's position, e.g. "1-2.3" (controller, root port, hub ports)
  std::string drives;  // its letters in LUN order, e.g. "D: E:"
  std::string model;   // controller model row's name
  std::uint64_t capacityMiB = 0;
  std::string serial; // written to the card or EEPROM; empty when none was
  std::string vidPid; // "VID:PID" written; empty when none was
  std::vector<StepRun> steps;
  PortResult result = PortResult::Fail;
  std::string failure; // what the failing step showed, on one line
  // The capacity check's verdict per checked LUN ("genuine", "forged: real N MiB",
  // "unfinished"), joined by "; "; empty when the check did not run.
  std::string capacityCheck;
};

std::string_view resultName(PortResult result);
// A result line's text on one line: each line break one space, none at the ends.
std::string oneLine(std::string_view text);
// "YYYY-MM-DD HH:MM:SS".
std::string timeText(const platform::LocalTime& time);
// "name ms;name ms" in the order the steps ran.
std::string stepsText(const std::vector<StepRun>& steps);

// CSV (RFC 4180): the header row and one record's row, each ending in CR LF. A field holding a
// comma, a quote or a line break is quoted, so no value ever breaks a row.
std::string csvHeader();
std::string csvRow(const ProductionRecord& record);

// Where finished ports' records go. `add` is called on the worker's thread and must not wait on
// the window thread.
class ProductionLog {
public:
  virtual ~ProductionLog() = default;
  virtual void add(const ProductionRecord& record) = 0;
};

} // namespace tarvix::log
