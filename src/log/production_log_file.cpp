#include "log/production_log_file.h"

#include "platform/files/shared_file.h"

namespace tarvix::log {

ProductionLogFiles::ProductionLogFiles(std::vector<std::filesystem::path> files,
                                       std::function<void(const std::string&)> warn)
    : files_(std::move(files)), warned_(files_.size(), false), warn_(std::move(warn)) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < files_.size(); ++i) {
    std::error_code ignored; // a folder that cannot be made shows as a file that cannot be opened
    if (files_[i].has_parent_path())
      std::filesystem::create_directories(files_[i].parent_path(), ignored);
    if (!append(files_[i], {})) {
      warned_[i] = true;
      warn_(files_[i].string() + ": the production log cannot be written there");
    }
  }
}

void ProductionLogFiles::add(const ProductionRecord& record) {
  const std::string row = csvRow(record);
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (append(files_[i], row) || warned_[i]) continue;
    warned_[i] = true;
    warn_(files_[i].string() + ": the production log cannot be written there");
  }
}

bool ProductionLogFiles::append(const std::filesystem::path& file, const std::string& row) {
  // Stations on one computer may share the file: the header and each row go in under its lock.
  return platform::files::appendShared(file, csvHeader(), row, false);
}

} // namespace tarvix::log
