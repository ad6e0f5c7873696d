// The window host: the thread that owns the station window and everything shown in it.
// Handlers, scans and timers run there; workers reach it only through runAndWait.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "ui/copy_dialog_model.h"

namespace tarvix::ui {

struct PathRequest {
  enum class Kind { OpenFile, SaveFile, Folder };
  Kind kind = Kind::OpenFile;
  std::string title;
  std::string filter;          // e.g. "INI Files (*.ini)"; empty for a folder
  std::filesystem::path start; // folder or file to start from; may be empty
};

class WindowHost {
public:
  using Task = std::function<void()>;

  virtual ~WindowHost() = default;

  // Queues `task` to run on the window thread and returns at once. Thread-safe.
  virtual void post(Task task) = 0;
  // Runs `task` on the window thread and returns when it has run (inline when called there).
  // Thread-safe. Must not be called by the window thread's own tasks while it is being stopped.
  virtual void runAndWait(const Task& task) = 0;
  // True on the window thread.
  virtual bool onWindowThread() const = 0;
  // Runs what is queued for the window thread now, waiting up to `wait` for something to arrive.
  // For the window thread while it waits for workers that call into it. Window thread only.
  virtual void runPending(std::chrono::milliseconds wait) = 0;

  // Arms one-shot timer `id` to call `onFire` on the window thread after `delay` (a real
  // duration: callers convert station milliseconds through the platform clock). Arming an id
  // that is pending replaces it, so at most one is pending per id. Window thread only.
  virtual void armTimer(int id, std::chrono::nanoseconds delay, Task onFire) = 0;
  virtual void stopTimer(int id) = 0;

  // Modal interactions. Window thread only.
  virtual void messageBox(const std::string& text, const std::string& caption) = 0;
  virtual std::optional<std::filesystem::path> askPath(const PathRequest& request) = 0;
  virtual void showAbout() = 0;
  // Shows the copy-file dialog modally until the operator closes it.
  virtual void runCopyDialog(CopyDialogModel& dialog) = 0;
};

} // namespace tarvix::ui
