// The station window as a model, composed of its pieces: the control records (ControlModel), the
// run control (RunController, over the production run), the option locks (optionStates) and the
// settings file (SettingsBinding), and what it owns for them: the readers attached (drive table and
// port records), the serial number series and the copy list. It belongs to the window thread:
// handlers run there. A front end draws the records and forwards the operator's input to the on...
// handlers; it keeps no state of its own.
#pragma once

#include "app/control.h"
#include "app/control_model.h"
#include "app/option_locks.h"
#include "app/run_controller.h"
#include "app/settings_binding.h"
#include "discovery/scans.h"
#include "platform/platform.h"
#include "run/port_outcome.h"
#include "run/run_options.h"
#include "run/serial_counter.h"
#include "settings/copy_list.h"
#include "station/control_ids.h"
#include "station/controls.h"
#include "station/numbering.h"
#include "station/records.h"
#include "station/station_state.h"
#include "ui/host.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvix::app {

class StationWindow final {
public:
  // Construction: every member at zero or empty. Nothing is shown until initialise().
  StationWindow(platform::Platform& platform, ui::WindowHost& host);
  ~StationWindow();
  StationWindow(const StationWindow&) = delete;
  StationWindow& operator=(const StationWindow&) = delete;

  // The window's initialisation in its fixed order, then closing. Window thread only.
  // initialise() is loadStation() and then startScanning(): the settings in the controls, then
  // the mapping mode's scan and probe, which touch the readers.
  void initialise();
  void loadStation();
  void startScanning();
  void close();

  // The control records and their operations (any thread).
  ControlModel& controls() { return controls_; }
  const ControlModel& controls() const { return controls_; }
  // The readers attached: drive table and port records. Window thread, and workers their port.
  station::StationState& readers() { return readers_; }
  const station::StationState& readers() const { return readers_; }
  const run::SerialCounter& serials() const { return serials_; }
  settings::CopyList& copyList() { return copyList_; }
  // Each port's outcome in the current or last run. Any thread.
  run::PortOutcome outcome(int n) const { return run_.production().outcome(n); }
  // Where finished ports' records go beyond their outcomes; before initialise().
  void passRecordsTo(log::ProductionLog* files) { run_.production().passRecordsTo(files); }
  // On a production line serial numbers come from its series; before initialise().
  void takeSerialsFrom(station::SerialSource* line) { serials_.takeFrom(line); }

  // The operator's input, forwarded by a front end. Window thread only.
  void onClicked(int id); // a push button pressed, or a check box toggled (its state flips first)
  void onTextEdited(int id, const std::string& typed); // the edit's rules and limit apply
  void onRowSelected(int id, int row);
  void onSystemCommand(int command);
  // The run ends by itself at the first poll with no busy port; true once it has and no worker
  // of it is still alive. Window thread only.
  bool runEnded() const { return run_.runEnded(); }
  bool runPrepared() const { return run_.runPrepared(); }
  // Whether port n's worker was started in the current or last run.
  bool portStarted(int n) const { return run_.production().portStarted(n); }
  // What a run does, as the controls say now. Window thread only; a run keeps what it read when
  // it was prepared.
  run::RunOptions readRunOptions() const { return run_.readRunOptions(); }
  // The run prepared from the controls as they are, without starting it. Window thread.
  run::Preparation prepareRun() const;
  // Starts a run prepared elsewhere (the headless station prepares before it scans), or shows
  // its refusal; false when refused. Window thread.
  bool startRun(run::Preparation preparation) { return run_.start(std::move(preparation)); }
  // The options as start-up leaves them once it applies the stored mapping mode (the model's
  // groups and the boxes it unchecks, Reset to Default Value unchecked and the locks), without
  // the scan and probe, which touch the readers: what a run prepared before scanning reads.
  void applyStartupOptions();
  // Whether a port-mapping mode is chosen: without one no run can start.
  bool mappingModeChosen() const { return mappingMode().any(); }
  // A storage device came up or went away; scans only once a mapping mode is chosen.
  void onDeviceEvent(platform::DeviceEvent event);

  // For front ends and tests. Window thread only.
  const ControlRecord& control(int id) const { return controls_.control(id); }
  const std::vector<int>& controlIds() const { return controls_.controlIds(); }
  // Increases with every change of any control, so a front end repaints only when it moved.
  std::uint64_t revision() const { return controls_.revision(); }
  // Called on the window thread whenever the revision moves.
  void setOnChange(std::function<void()> onChange) { controls_.setOnChange(std::move(onChange)); }
  // The About item of the system menu; empty when there is none.
  const std::string& aboutMenuText() const { return aboutMenuText_; }
  std::string caption() const;

  // Language (window thread).
  void applyStoredLanguage(int nLan);
  void applyLanguage();
  void onLanguageSelected();
  void detectSystemLanguage();
  int languageOffset() const { return languageOffset_; }
  int languageChosen() const { return languageChosen_; }
  // The localised text of English id N in the current language (ids below 1000 take no offset);
  // nothing when the id has no entry.
  std::optional<std::string> localText(int englishId) const;

  // The file read at start-up and written at exit (and with every serial number taken). Call
  // before initialise() to name one; otherwise start-up picks the default place.
  void setStationSettingsPath(std::filesystem::path path) {
    settings_.stationSettingsPath = std::move(path);
  }
  platform::Platform& platform() { return platform_; }
  ui::WindowHost& host() { return host_; }

private:
  void loadSettings();
  void onLoadSettingsClicked();
  void clearReaders();
  void loadDefaultSettings();

  void relabelWriteParameter();
  // Option handlers.
  void onModelSelected();
  void applyModelView(); // the model handler without its probe
  void onResetToDefaultClicked();
  void onMaxPowerEdited();
  void onCopyFileClicked();
  void chooseImage(bool iso);
  void applySavedMappingChoice();
  void chooseMapping(bool hubMap);
  discovery::MappingMode mappingMode() const;
  discovery::ProbeOptions probeOptions() const;

  platform::Platform& platform_;
  ui::WindowHost& host_;
  std::string aboutMenuText_;
  std::atomic<int> languageOffset_{0}; // read by workers composing messages
  int languageChosen_ = 0;
  // Each piece is built on the ones above it; the run controller goes before the controls, so its
  // workers are joined while what they show through is still there.
  station::StationState readers_;
  run::SerialCounter serials_;
  settings::CopyList copyList_;
  ControlModel controls_;
  SettingsBinding settings_{platform_, host_, controls_, serials_, copyList_};
  RunController run_{platform_, host_, controls_, readers_, serials_, copyList_, languageOffset_};
  discovery::Scanner scanner_{platform_, controls_, readers_};
};

} // namespace tarvix::app
