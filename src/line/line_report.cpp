#include "line/line_report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace tarvix::line {
namespace {

constexpr const char* kRecords =
    "SELECT station, to_char(date_trunc('hour', finished_at), 'YYYY-MM-DD HH24:00'), result, "
    "failure, serial FROM tarvix.production_record "
    "WHERE finished_at >= coalesce($1::timestamp, '-infinity') "
    "ORDER BY station, finished_at, arrival";
constexpr const char* kNumbers =
    "SELECT station, count(*) FILTER (WHERE state = 'void'), "
    "count(*) FILTER (WHERE state = 'taken') FROM tarvix.serial_use "
    "WHERE taken_at >= coalesce($1::timestamp, '-infinity') GROUP BY station ORDER BY station";

bool passed(const std::string& result) { return result == "pass" || result == "default pass"; }

// Consecutive numbers as "first-last" ranges, equal lengths only, so "000000000009" and
// "000000000010" join while texts that are not numbers stand alone.
std::string ranges(const std::set<std::string>& serials) {
  std::string text;
  auto numberOf = [](const std::string& s) -> long long {
    if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos)
      return -1;
    return std::stoll(s);
  };
  std::vector<std::string> sorted(serials.begin(), serials.end());
  std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  for (std::size_t i = 0; i < sorted.size();) {
    std::size_t j = i;
    while (j + 1 < sorted.size() && sorted[j + 1].size() == sorted[j].size() &&
           numberOf(sorted[j]) >= 0 && numberOf(sorted[j + 1]) == numberOf(sorted[j]) + 1) {
      ++j;
    }
    if (!text.empty()) text += ", ";
    text += sorted[i] + (j > i ? "-" + sorted[j] : "");
    i = j + 1;
  }
  return text.empty() ? "none" : text;
}

} // namespace

std::string reportText(const std::vector<ReportRow>& rows,
                       const std::vector<StationNumbers>& numbers) {
  std::string text;
  char line[160];
  for (std::size_t i = 0; i < rows.size();) {
    std::size_t end = i;
    int pass = 0;
    std::map<std::string, int> failures;
    std::set<std::string> serials;
    for (; end < rows.size() && rows[end].station == rows[i].station &&
           rows[end].hour == rows[i].hour;
         ++end) {
      const ReportRow& r = rows[end];
      if (passed(r.result)) {
        ++pass;
      } else {
        ++failures[r.failure.empty() ? r.result : r.failure];
      }
      if (!r.serial.empty()) serials.insert(r.serial);
    }
    const int total = static_cast<int>(end - i);
    std::snprintf(line, sizeof line, "%s  %s  passed %d  failed %d  yield %.1f%%\n",
                  rows[i].station.c_str(), rows[i].hour.c_str(), pass, total - pass,
                  100.0 * pass / total);
    text += line;
    for (const auto& [failure, count] : failures)
      text += "    failed " + std::to_string(count) + ": " + failure + "\n";
    text += "    serial numbers: " + ranges(serials) + "\n";
    i = end;
  }
  if (rows.empty()) text += "no finished ports\n";
  for (const StationNumbers& n : numbers) {
    if (n.voided == 0 && n.unsettled == 0) continue;
    text += n.station + "  serial numbers void " + std::to_string(n.voided) + ", unsettled " +
            std::to_string(n.unsettled) + "\n";
  }
  return text;
}

bool lineReport(Database& database, const std::string& since, std::string& text) {
  const std::vector<std::optional<std::string>> parameters{
      since.empty() ? std::nullopt : std::optional<std::string>(since)};
  const Reply records = database.run(kRecords, parameters);
  const Reply numbers = records.ok ? database.run(kNumbers, parameters) : records;
  if (!numbers.ok) {
    text = records.unreachable || numbers.unreachable
               ? "the line database cannot be reached: " + numbers.error
               : "the line report could not be read: " + numbers.error;
    return false;
  }
  std::vector<ReportRow> rows;
  for (const Row& r : records.rows)
    rows.push_back({r[0].value_or(""), r[1].value_or(""), r[2].value_or(""), r[3].value_or(""),
                    r[4].value_or("")});
  std::vector<StationNumbers> counts;
  for (const Row& r : numbers.rows) {
    counts.push_back(
        {r[0].value_or(""), std::stoull(r[1].value_or("0")), std::stoull(r[2].value_or("0"))});
  }
  text = reportText(rows, counts);
  return true;
}

} // namespace tarvix::line
