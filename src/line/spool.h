// The line's spool: finished ports' records that are not yet known to be in the line database,
// in the order the ports finished, one JSON line each in a file of the station's own. A record is
// on the disk before the port is shown done, so neither a database that is down nor a station
// that is ended loses it; it leaves the spool only once the database has it. The file is shared
// under its lock, so any number of threads and processes may add and send.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvix::line {

// A finished port as the line keeps it: the production log's fields as the log writes them, the
// station's id for the record (so a record sent twice is stored once), and what became of the
// serial numbers the port took: the one its reader holds, and those it did not write.
struct LineRecord {
  std::string recordId;
  std::string station;
  std::string series;
  std::string finishedAt; // "YYYY-MM-DD HH:MM:SS", the station's local time
  std::string host;
  int port = 0;
  std::string usbPath;
  std::string drives;
  std::string model;
  std::uint64_t capacityMiB = 0;
  std::string serial;
  std::string vidPid;
  std::string steps;
  std::string result;
  std::string failure;
  std::string capacityCheck;
  std::string usedTake; // the take that gave `serial`; empty when none was written
  std::vector<std::string> voidTakes;
};

std::string spoolLine(const LineRecord& record);
// Nothing for a line that is not a whole record.
std::optional<LineRecord> fromSpoolLine(const std::string& line);

class Spool {
public:
  // A last line torn by a crash mid-append is cut off, so the next one starts clean.
  explicit Spool(std::filesystem::path file);

  const std::filesystem::path& file() const { return file_; }
  // False when the record could not be put on the disk.
  bool add(const LineRecord& record);

  struct Pending {
    std::vector<LineRecord> records;     // oldest first
    std::vector<std::string> unreadable; // lines that hold no record
    std::uint64_t bytes = 0;             // the file's length when read
  };
  Pending pending() const;
  // Everything pending() gave has reached the line: the file is emptied, unless more was added
  // since (then false, and the next pending() gives everything again; the line stores a record
  // it has once).
  bool sent(std::uint64_t bytes);

private:
  std::filesystem::path file_;
};

} // namespace tarvix::line
