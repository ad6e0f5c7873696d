#include "app/production_book.h"

namespace tarvix::app {

void ProductionBook::clear() {
  std::lock_guard lock(mutex_);
  ports_ = {};
}

void ProductionBook::add(const log::ProductionRecord& record) {
  {
    std::lock_guard lock(mutex_);
    if (record.port >= 1 && record.port <= station::kPortCount) ports_[record.port - 1] = record;
  }
  // The files keep a lock of their own: one slow disk never holds up the report.
  if (files_ != nullptr) files_->add(record);
}

std::optional<log::ProductionRecord> ProductionBook::port(int n) const {
  std::lock_guard lock(mutex_);
  return ports_[n - 1];
}

std::string usbPathText(const station::UsbPath& path) {
  if (path.empty()) return {};
  // Entry 1 is the controller, entry 2 its root hub; the ports follow from level 3.
  std::string text = std::to_string(path.entry[1]);
  for (int level = 3; level <= path.level() && level < static_cast<int>(path.entry.size());
       ++level) {
    text += (level == 3 ? '-' : '.') + std::to_string(path.entry[level]);
  }
  return text;
}

} // namespace tarvix::app
