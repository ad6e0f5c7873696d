#include "app/run_controller.h"

#include "app/option_locks.h"
#include "app/option_table.h"
#include "app/window_port_display.h"
#include "app/window_timers.h"
#include "station/control_ids.h"
#include "text/text_ids.h"

namespace tarvix::app {
namespace {

constexpr std::uint32_t kPollPeriodMs = 2000;
constexpr std::string_view kWorkerStillEnding =
    "Auto Start: a worker of the last run is still ending; press Auto Start again";

} // namespace

RunController::RunController(platform::Platform& platform, ui::WindowHost& host,
                             ControlModel& controls, station::StationState& readers,
                             run::SerialCounter& serials, settings::CopyList& copyList,
                             const std::atomic<int>& languageOffset)
    : platform_(platform), host_(host), controls_(controls), readers_(readers), serials_(serials),
      copyList_(copyList), languageOffset_(languageOffset),
      production_(platform, readers, serials, std::make_shared<WindowPortDisplay>(controls)) {
  // What a worker showed last is in the window when the run is seen to end, and the worker's end
  // is a window event, which whoever waits for the run's end is woken by.
  production_.onWorkerEnd([this](const std::function<void()>& ended) {
    host_.runAndWait([&] {
      controls_.flushDisplay();
      ended();
    });
  });
}

RunController::~RunController() { stop(); }

void RunController::stop() {
  if (host_.onWindowThread()) {
    waitForWorkers();
    host_.stopTimer(WindowTimers::kPoll);
    return;
  }
  host_.runAndWait([this] { host_.stopTimer(WindowTimers::kPoll); });
  production_.joinWorkers();
}

void RunController::onAutoStart() {
  if (runPrepared_) return startPorts();
  auto preparation = prepareFromControls();
  if (preparation) start(std::move(*preparation));
}

std::optional<run::Preparation> RunController::prepareFromControls() {
  if (production_.liveWorkers() > 0) {
    // The images of the last run may still be in use; they are replaced only once it is over.
    platform_.trace.line(kWorkerStillEnding);
    return std::nullopt;
  }
  const std::string typed = controls_.text(id::kSerial);
  const std::string serial = run::paddedSerial(typed);
  if (serial != typed) controls_.setText(id::kSerial, serial);
  serials_.startFrom(serial); // no worker is alive to take it
  return prepare();
}

run::Preparation RunController::prepare() const {
  const run::RunOptions options = readRunOptions();
  // Prepared first in every case: it names the identity to the system, refused or not.
  run::Preparation preparation = run::prepareRun(options, platform_, serials_);
  if (!preparation.run || options.resetToDefault) return preparation;
  for (const OptionSpec& spec : optionTable()) {
    const Setting& t = spec.setting;
    if (t.kind != Stored::Text && t.kind != Stored::Number) continue;
    // Only what the run uses: a step's value while its box is checked.
    if (spec.lock.enabledBy != 0 && !controls_.checked(spec.lock.enabledBy)) continue;
    const std::string value = controls_.text(spec.id);
    if (runTakes(t, value)) continue;
    preparation.run.reset();
    preparation.refusal = run::Refusal{text::kStoredValueUnusable, {std::string(t.key), value}};
    return preparation;
  }
  return preparation;
}

bool RunController::start(run::Preparation preparation) {
  copyList_ = std::move(preparation.copyList);
  if (!preparation.run) {
    controls_.messageBox(run::refusalText(*preparation.refusal, languageOffset_));
    return false;
  }
  // No worker is alive to take a number; another station may have taken some since.
  const std::string serial = serials_.startRun(preparation.run->options.serialStart);
  if (controls_.text(id::kSerial) != serial) controls_.setText(id::kSerial, serial);
  production_.begin(std::move(*preparation.run));
  runPrepared_ = true;
  applyOptionStates(controls_, OptionMoment::RunStarts);
  controls_.enable(id::kAutoStop, false);
  startPorts();
  return true;
}

void RunController::startPorts() {
  controls_.enable(id::kAutoStop, false);
  for (int n = 1; n <= station::kPortCount; ++n) {
    if (readers_.port(n).assigned) production_.startPort(n, languageOffset_);
  }
  host_.armTimer(WindowTimers::kPoll, platform_.clock.realDuration(kPollPeriodMs),
                 [this] { onPollTimer(); });
}

void RunController::onPollTimer() {
  host_.stopTimer(WindowTimers::kPoll);
  if (production_.anyPortBusy()) return startPorts();
  runPrepared_ = false;
  controls_.setText(id::kSerial, serials_.next());
  production_.end();
  applyOptionStates(controls_, OptionMoment::RunEnds);
}

void RunController::waitForWorkers() {
  // Workers reach the window through it, so the window keeps serving them while it waits.
  while (production_.liveWorkers() > 0)
    host_.runPending(std::chrono::milliseconds(20));
  production_.joinWorkers();
  controls_.flushDisplay();
  // The edit shows the number a card took last; saved as it is, the next start would hand that
  // number out again. It shows the station's next number, as at a run's end.
  if (runPrepared_) controls_.setText(id::kSerial, serials_.next());
}

} // namespace tarvix::app

namespace tarvix::app {

run::RunOptions RunController::readRunOptions() const {
  run::RunOptions options;
  for (const OptionSpec& spec : optionTable()) {
    if (spec.field != nullptr) spec.field(options, controls_.control(spec.id));
  }
  options.copyList = copyList_;
  return options;
}

} // namespace tarvix::app
