// The station window as a model, composed of its pieces: the control records (ControlModel), the
// run control (RunController), the option locks (optionStates) and the settings file
// (SettingsBinding), plus the state the whole station shares (port records, slot arrays, options,
// images). It belongs to the window thread: handlers run there, and the control operations called
// from any other thread are carried out there through the window host while the caller waits. A
// front end draws the records and forwards the operator's input to the on... handlers; it keeps
// no state of its own.
#pragma once

#include "app/control.h"
#include "app/control_model.h"
#include "app/option_locks.h"
#include "app/production_book.h"
#include "app/run_controller.h"
#include "app/settings_binding.h"
#include "discovery/scans.h"
#include "platform/platform.h"
#include "run/run_options.h"
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
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace tarvix::app {

class StationWindow final : public station::WindowControls,
                            public station::StationState,
                            public RunInputs {
public:
  // Construction: every member at zero or empty. Nothing is shown until initialise().
  StationWindow(platform::Platform& platform, ui::WindowHost& host);
  ~StationWindow() override;
  StationWindow(const StationWindow&) = delete;
  StationWindow& operator=(const StationWindow&) = delete;

  // The window's initialisation in its fixed order, then closing. Window thread only.
  void initialise();
  void close();

  // Control operations (station::WindowControls); any thread.
  void setText(int id, const std::string& text) override;
  std::string text(int id) const override;
  int number(int id) const override;
  bool checked(int id) const override;
  void setChecked(int id, bool checked) override;
  void enable(int id, bool enabled) override;
  void show(int id, bool visible) override;
  void setPicture(int id, int pictureId) override;
  void setProgressRange(int id, int low, int high) override;
  void setProgress(int id, int position) override;
  void addRow(int id, const std::string& row) override;
  int selectedRow(int id) const override;
  void setSelectedRow(int id, int row) override;
  void setFont(int id, station::FontChoice font) override;
  void messageBox(const std::string& text) override;

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
  bool portStarted(int n) const { return run_.portStarted(n); }
  // What a run does, as the controls say now. Window thread only; a run keeps what it read when
  // it was prepared.
  run::RunOptions readRunOptions() const { return run_.readRunOptions(); }
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
  // The finished ports of the current run; set where it passes records on before initialise().
  ProductionBook productionBook;

  platform::Platform& platform() { return platform_; }
  ui::WindowHost& host() { return host_; }

private:
  void loadSettings();
  void onLoadSettingsClicked();
  void clearSharedState();
  void loadDefaultSettings();

  void relabelWriteParameter();
  // Option handlers.
  void showGroup(std::initializer_list<int> controls, bool visible);
  void onModelSelected();
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
  ControlModel controls_;
  SettingsBinding settings_{platform_, host_, controls_, *this, *this};
  RunController run_{platform_, host_, controls_, *this, *this, productionBook, languageOffset_};
  discovery::Scanner scanner_{platform_, controls_, *this};
};

} // namespace tarvix::app
