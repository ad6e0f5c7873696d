// A production log read back as RFC 4180 text: quoted fields may hold commas, quotes and line
// breaks. Rows of fields, the header row first.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tarvix::testing {

inline std::vector<std::vector<std::string>> csvRows(const std::string& csv) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row(1);
  bool quoted = false;
  for (std::size_t i = 0; i < csv.size(); ++i) {
    const char c = csv[i];
    if (quoted && c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
      row.back() += c, ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ',') {
      row.emplace_back();
    } else if (!quoted && c == '\n') {
      rows.push_back(std::exchange(row, std::vector<std::string>(1)));
    } else if (quoted || c != '\r') {
      row.back() += c;
    }
  }
  if (row.size() > 1 || !row.back().empty()) rows.push_back(row);
  return rows;
}

} // namespace tarvix::testing
