// A production run once it is prepared: the start test and port start of each ready port (its
// reader opened once, through a reader session bound to it), one worker thread per started port,
// and each port's outcome record, which the port box, the report and the production log read.
// Everything but the workers runs on the window thread; the outcomes may be read from any thread.
#pragma once

#include "log/production_record.h"
#include "platform/platform.h"
#include "run/port_display.h"
#include "run/port_outcome.h"
#include "run/prepare_run.h"
#include "run/serial_counter.h"
#include "run/step_context.h"
#include "station/numbering.h"
#include "station/station_state.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvix::run {

class ProductionRun final {
public:
  // Keeps references to all it is given. `display` shows what the port starts and the workers
  // show; `readers` is the station's drive table and port records.
  ProductionRun(platform::Platform& platform, station::StationState& readers,
                SerialCounter& serials, std::shared_ptr<PortDisplay> display);
  // Joins every worker; the caller has let them finish (they may need the window thread).
  ~ProductionRun();
  ProductionRun(const ProductionRun&) = delete;
  ProductionRun& operator=(const ProductionRun&) = delete;

  // Where finished ports' records go beyond their outcomes; set before any worker starts.
  void passRecordsTo(log::ProductionLog* files) { files_ = files; }
  // Runs on each worker's thread as it ends, once its outcome is handed over, with what counts
  // the worker as ended: whoever calls it may carry that over to the thread that waits for it.
  using WorkerEnd = std::function<void(const std::function<void()>& ended)>;
  void onWorkerEnd(WorkerEnd ended) { workerEnded_ = std::move(ended); }

  // Workers still alive, of this run or the last.
  int liveWorkers() const { return liveWorkers_; }
  // A new run with `prepared`: the last run's outcomes and finished workers are let go. Only
  // while no worker is alive.
  void begin(PreparedRun prepared);
  // The start test of port n and, when it passes, its port start, in the language of
  // `languageOffset`. A port that is busy, done or not ready is left as it is.
  void startPort(int n, int languageOffset);
  bool anyPortBusy() const;
  // The run is seen to end: every port may be started again; the images are let go once no
  // worker needs them.
  void end();
  // Joins every worker; only once none is alive, or from a thread the workers do not wait on.
  void joinWorkers();

  // Port n's outcome in the current (or last) run. Any thread.
  PortOutcome outcome(int n) const;
  bool portStarted(int n) const;
  const RunOptions& options() const { return prepared_.options; }

  // Set when the station closes: work that waits on something outside stops.
  std::atomic<bool> closing{false};

private:
  bool startTest(int n, int languageOffset);
  void startWorker(int n, int languageOffset, PortOutcome started);
  void refuse(int n, text::PictureRole picture, std::string why, int languageOffset);
  StepContext stepContext(int languageOffset);
  void finished(const PortOutcome& outcome);
  void setOutcome(int n, PortOutcome outcome);

  platform::Platform& platform_;
  station::StationState& readers_;
  SerialCounter& serials_;
  std::shared_ptr<PortDisplay> display_;
  log::ProductionLog* files_ = nullptr;
  WorkerEnd workerEnded_;
  PreparedRun prepared_; // replaced only while no worker is alive
  mutable std::mutex outcomesLock_;
  std::array<PortOutcome, station::kPortCount> outcomes_;
  std::vector<std::thread> workers_;
  std::atomic<int> liveWorkers_{0};
};

} // namespace tarvix::run
