// The production log on disk: every record appended, as one CSV row, to each of its files, and
// flushed before add() returns, so a crash loses nothing already written. A new or empty file gets
// the header row first. Thread-safe: workers add under the log's own lock, and each row goes in
// under the file's lock, so stations sharing one file never mix their rows.
#pragma once

#include "log/production_record.h"

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tarvix::log {

class ProductionLogFiles final : public ProductionLog {
public:
  // `warn` hears, once per file, that it cannot be written (called from the thread that found
  // it); the run goes on without that file. Creates the files' folders and checks each file now.
  ProductionLogFiles(std::vector<std::filesystem::path> files,
                     std::function<void(const std::string&)> warn);

  void add(const ProductionRecord& record) override;

private:
  bool append(const std::filesystem::path& file, const std::string& row);

  std::mutex mutex_;
  std::vector<std::filesystem::path> files_;
  std::vector<bool> warned_;
  std::function<void(const std::string&)> warn_;
};

} // namespace tarvix::log
