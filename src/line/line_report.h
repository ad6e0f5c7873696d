// The line report: for each station and hour, the ports that passed and failed (by what the
// failing step showed), the yield, and the serial number ranges written; then each station's
// numbers written off (void) or still unsettled.
#pragma once

#include "line/database.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarvix::line {

// One finished port as the report reads it.
struct ReportRow {
  std::string station;
  std::string hour; // "YYYY-MM-DD HH:00", the station's local time
  std::string result;
  std::string failure;
  std::string serial;
};
struct StationNumbers {
  std::string station;
  std::uint64_t voided = 0;
  std::uint64_t unsettled = 0; // taken, their port not finished yet
};

// The report's text from rows sorted by station and hour. Pure.
std::string reportText(const std::vector<ReportRow>& rows,
                       const std::vector<StationNumbers>& numbers);

// Reads the records finished at or after `since` ("" for all; any time PostgreSQL reads, e.g.
// "2026-12-08 14:00") and gives the report's text; false with `text` saying why.
bool lineReport(Database& database, const std::string& since, std::string& text);

} // namespace tarvix::line
