// The station window as a model: one record per control plus the state the whole station shares
// (port records, slot arrays, options, images). It belongs to the window thread: handlers run
// there, and the control operations called from any other thread are carried out there through
// the window host while the caller waits. A front end draws the records and forwards the
// operator's input to the on... handlers; it keeps no state of its own.
#pragma once

#include "app/control.h"
#include "app/display_queue.h"
#include "app/option_locks.h"
#include "app/production_book.h"
#include "discovery/scans.h"
#include "platform/platform.h"
#include "run/reader_binding.h"
#include "run/step_context.h"
#include "settings/copy_list.h"
#include "station/control_ids.h"
#include "station/controls.h"
#include "station/numbering.h"
#include "station/records.h"
#include "station/station_state.h"
#include "ui/host.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvix::app {

class StationWindow final : public station::WindowControls, public station::StationState {
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
  bool runEnded() const;
  // Whether port n's worker was started in the current or last run.
  bool portStarted(int n) const { return started_[n - 1]; }
  // What a run does, as the controls say now. Window thread only; a run keeps what it read when
  // it was prepared.
  run::RunOptions readRunOptions() const;
  // A storage device came up or went away; scans only once a mapping mode is chosen.
  void onDeviceEvent(platform::DeviceEvent event);

  // For front ends and tests. Window thread only.
  const ControlRecord& control(int id) const;
  const std::vector<int>& controlIds() const { return ids_; }
  // Increases with every change of any control, so a front end repaints only when it moved.
  std::uint64_t revision() const { return revision_; }
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

  // Window members beside the shared station state.
  bool runPrepared = false;
  std::filesystem::path isoPath;
  std::filesystem::path binPath;
  std::uint64_t availableRamKiB = 0;
  std::filesystem::path settingsPath;
  // The file read at start-up and written at exit (and with every serial number taken). Set
  // before initialise() to name one; otherwise start-up picks the default place.
  std::filesystem::path stationSettingsPath;
  settings::CopyList copyList;
  // The finished ports of the current run; set where it passes records on before initialise().
  ProductionBook productionBook;

  platform::Platform& platform() { return platform_; }
  ui::WindowHost& host() { return host_; }

private:
  // The window's one-shot timers.
  static constexpr int kPollTimer = 2;    // the run's two-second poll
  static constexpr int kDisplayTimer = 3; // queued port box changes shown

  ControlRecord* find(int id);
  const ControlRecord& record(int id) const;
  // Runs `change` on the record of `id` on the window thread and counts a revision.
  template <typename Change> void change(int id, Change&& change);
  template <typename Read> auto read(int id, Read&& read) const;
  // A port box change: applied at once on the window thread, queued from a worker.
  void display(int id, DisplayQueue::Property property, std::function<void(ControlRecord&)> apply);
  // Applies what workers queued for display. Window thread only.
  void flushDisplay();

  void setTextLimit(int id, int limit);
  void clearSharedState();
  void loadDefaultSettings();

  // The settings file.
  void resolveSettingsPath();
  void loadSettings();
  void applySettings(const settings::ProfileFile& profile);
  bool saveSettings();
  // False, with a message box naming the field, when the run would write a label FAT cannot
  // hold or a serial number the card information cannot hold whole.
  bool cardTextsWritable();
  ui::PathRequest settingsFileRequest(bool save) const;
  void onLoadSettingsClicked();
  void onSaveSettingsClicked();
  void relabelWriteParameter();

  // Option handlers.
  void showGroup(std::initializer_list<int> controls, bool visible);
  // Enables and disables the option controls as the lock table says for `moment`.
  void applyOptionStates(OptionMoment moment);
  void onModelSelected();
  void onResetToDefaultClicked();
  void onMaxPowerEdited();
  void onCopyFileClicked();
  void chooseImage(bool iso);
  void applySavedMappingChoice();
  void chooseMapping(bool hubMap);
  discovery::MappingMode mappingMode() const;

  // Run control.
  // What a worker (or the port start) shows messages and pictures through, in today's language.
  run::StepContext stepContext();
  void onAutoStart();
  bool prepareRun();
  bool loadImages();
  // Sizes, checks and reads one image, adding its area's bytes to `bytes`; false with the
  // message box shown when it cannot be used.
  bool takeImage(const std::filesystem::path& path, int failedText, std::uint64_t extra,
                 std::uint64_t& bytes, std::vector<std::uint8_t>& image);
  bool addCopyFileSizes();
  bool memoryAllows(std::uint64_t bytes) const;
  bool startTest(int n);
  void startPort(int n);
  void startWorker(station::PortRecord& record, run::ReaderBinding binding,
                   log::ProductionRecord started);
  // What the port start knows of port n's reader, for its production record.
  log::ProductionRecord startedRecord(int n, std::uint64_t cardBytes) const;
  void joinFinishedWorkers();
  void onPollTimer();
  void waitForWorkers();
  discovery::ProbeOptions probeOptions() const;

  platform::Platform& platform_;
  ui::WindowHost& host_;
  std::vector<ControlRecord> records_; // indexed by id - kFirstId
  std::vector<int> ids_;
  std::uint64_t revision_ = 0;
  std::string aboutMenuText_;
  std::atomic<int> languageOffset_{0}; // read by workers composing messages
  int languageChosen_ = 0;
  discovery::Scanner scanner_{platform_, *this, *this};
  std::vector<std::thread> workers_;
  std::array<bool, station::kPortCount> started_{};
  std::atomic<int> liveWorkers_{0};
  run::RunOptions runOptions_; // the prepared run's; replaced only while no worker is alive
  mutable DisplayQueue displayQueue_;
};

} // namespace tarvix::app
