// Auto Start and what follows it, between the window and the production run: the run prepared from
// the options the controls show (a refusal shown in a message box), the option area locked, every
// assigned port started, and the two-second poll that sees the run end. The production run does
// the port starts and keeps the outcomes. Window thread, but for stop().
#pragma once

#include "app/control_model.h"
#include "platform/platform.h"
#include "run/prepare_run.h"
#include "run/production_run.h"
#include "run/run_options.h"
#include "run/serial_counter.h"
#include "settings/copy_list.h"
#include "station/station_state.h"
#include "ui/host.h"

#include <atomic>

namespace tarvix::app {

class RunController {
public:
  // Keeps references to all it is given; `languageOffset` is the window's, read as ports start.
  RunController(platform::Platform& platform, ui::WindowHost& host, ControlModel& controls,
                station::StationState& readers, run::SerialCounter& serials,
                settings::CopyList& copyList, const std::atomic<int>& languageOffset);
  ~RunController();
  RunController(const RunController&) = delete;
  RunController& operator=(const RunController&) = delete;

  // Auto Start pressed: the run prepared from the controls, unless it is, then started.
  void onAutoStart();
  // The run's preparation, made from the controls now; the serial edit is filled to twelve
  // digits first. Nothing while a worker of the last run is still ending.
  std::optional<run::Preparation> prepareFromControls();
  // Starts a prepared run (the copy list kept as it left it), or shows its refusal. False when
  // refused.
  bool start(run::Preparation preparation);
  // Whether a run is prepared and not yet seen to end.
  bool runPrepared() const { return runPrepared_; }
  // The run ends by itself at the first poll with no busy port; true once it has and no worker
  // of it is still alive.
  bool runEnded() const { return !runPrepared_ && production_.liveWorkers() == 0; }
  const run::ProductionRun& production() const { return production_; }
  run::ProductionRun& production() { return production_; }
  // What a run does, as the controls say now; a run keeps what it read when it was prepared.
  run::RunOptions readRunOptions() const;
  // Serves the workers from the window thread until none is alive, then joins them.
  void waitForWorkers();
  // No further poll, and every worker joined: on the window thread while serving them, from
  // any other thread while the window thread does. Before the window goes away.
  void stop();

private:
  void startPorts();
  void onPollTimer();

  platform::Platform& platform_;
  ui::WindowHost& host_;
  ControlModel& controls_;
  station::StationState& readers_;
  run::SerialCounter& serials_;
  settings::CopyList& copyList_;
  const std::atomic<int>& languageOffset_;
  bool runPrepared_ = false;
  run::ProductionRun production_;
};

} // namespace tarvix::app
