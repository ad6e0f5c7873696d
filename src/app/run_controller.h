// Auto Start and what follows it: the run's preparation (test count, serial, images in memory with
// the memory check, the room a card needs, the options frozen), the start test and port start of
// every ready port, one worker thread per started port, and the poll that sees the run end. It
// works on the window's controls and the shared station state, which the window owns; everything
// but the workers runs on the window thread.
#pragma once

#include "app/control_model.h"
#include "app/production_book.h"
#include "log/production_record.h"
#include "platform/platform.h"
#include "run/reader_binding.h"
#include "run/run_options.h"
#include "run/step_context.h"
#include "settings/copy_list.h"
#include "station/numbering.h"
#include "station/station_state.h"
#include "ui/host.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <thread>
#include <vector>

namespace tarvix::app {

// What a run takes beside the controls: the images and files the operator chose, and the memory
// the images may fill. The window's handlers and its settings set them; a run reads them when it
// is prepared.
struct RunInputs {
  std::filesystem::path isoPath;
  std::filesystem::path binPath;
  settings::CopyList copyList;
  std::uint64_t availableRamKiB = 0;
};

class RunController {
public:
  // Keeps references to all it is given; `languageOffset` is the window's, read as workers start.
  RunController(platform::Platform& platform, ui::WindowHost& host, ControlModel& controls,
                station::StationState& state, RunInputs& inputs, ProductionBook& productionBook,
                const std::atomic<int>& languageOffset);
  ~RunController();
  RunController(const RunController&) = delete;
  RunController& operator=(const RunController&) = delete;

  // Auto Start pressed (and every poll that finds a port busy). Window thread only.
  void onAutoStart();
  // Whether a run is prepared and not yet seen to end.
  bool runPrepared() const { return runPrepared_; }
  // The run ends by itself at the first poll with no busy port; true once it has and no worker
  // of it is still alive.
  bool runEnded() const;
  // Whether port n's worker was started in the current or last run.
  bool portStarted(int n) const { return started_[n - 1]; }
  // What a run does, as the controls say now; a run keeps what it read when it was prepared.
  run::RunOptions readRunOptions() const;
  // Serves the workers from the window thread until none is alive, then joins them.
  void waitForWorkers();
  // No further poll, and every worker joined: on the window thread while serving them, from
  // any other thread while the window thread does. Before the window goes away.
  void stop();

private:
  static constexpr int kPollTimer = 2; // the run's two-second poll

  // What a worker (or the port start) shows messages and pictures through, in today's language.
  run::StepContext stepContext();
  bool prepareRun();
  // False, with a message box naming the field, when the run would write a label FAT cannot
  // hold or a serial number the card information cannot hold whole.
  bool cardTextsWritable();
  // False, with a message box saying why, when the run writes serial numbers on a production
  // line that cannot give them now.
  bool lineReady();
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

  platform::Platform& platform_;
  ui::WindowHost& host_;
  ControlModel& controls_;
  station::StationState& state_;
  RunInputs& inputs_;
  ProductionBook& productionBook_;
  const std::atomic<int>& languageOffset_;
  bool runPrepared_ = false;
  std::vector<std::thread> workers_;
  std::array<bool, station::kPortCount> started_{};
  std::atomic<int> liveWorkers_{0};
  run::RunOptions runOptions_; // the prepared run's; replaced only while no worker is alive
};

} // namespace tarvix::app
