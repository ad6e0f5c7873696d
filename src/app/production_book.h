// The finished ports' production records of the current run, kept for the report, each also
// passed on to the production log files. Workers add; the window thread reads. Thread-safe.
#pragma once

#include "log/production_record.h"
#include "station/drive_record.h"
#include "station/numbering.h"

#include <array>
#include <mutex>
#include <optional>

namespace tarvix::app {

class ProductionBook final : public log::ProductionLog {
public:
  // Where records go beyond the book; none until set, before any worker starts.
  void passOnTo(log::ProductionLog* files) { files_ = files; }
  // Forgets the last run's records; only while no worker is alive.
  void clear();

  void add(const log::ProductionRecord& record) override;
  std::optional<log::ProductionRecord> port(int n) const;

private:
  mutable std::mutex mutex_;
  std::array<std::optional<log::ProductionRecord>, station::kPortCount> ports_;
  log::ProductionLog* files_ = nullptr;
};

// A USB position as "controller-port.port..." (e.g. "1-2.7.1"); empty for no position.
std::string usbPathText(const station::UsbPath& path);

} // namespace tarvix::app
