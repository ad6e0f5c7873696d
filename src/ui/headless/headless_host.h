// A window host with no window: its own event-loop thread runs posted tasks and timers in order.
// Modal interactions are answered by a scripted responder and recorded, so tests and batch runs
// can see every message the operator would have seen.
#pragma once

#include "ui/host.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvix::ui {

class HeadlessHost final : public WindowHost {
public:
  using PathResponder = std::function<std::optional<std::filesystem::path>(const PathRequest&)>;

  HeadlessHost();
  ~HeadlessHost() override; // stops the loop; pending tasks and timers are dropped

  void post(Task task) override;
  void runAndWait(const Task& task) override;
  bool onWindowThread() const override;
  void runPending(std::chrono::milliseconds wait) override;
  void armTimer(int id, std::chrono::nanoseconds delay, Task onFire) override;
  void stopTimer(int id) override;
  void messageBox(const std::string& text, const std::string& caption) override;
  std::optional<std::filesystem::path> askPath(const PathRequest& request) override;
  void showAbout() override;
  void runCopyDialog(CopyDialogModel& dialog) override;

  // Answers file and folder dialogs; without one every dialog is cancelled. Thread-safe.
  void setPathResponder(PathResponder responder);
  // Plays the operator in the copy-file dialog; without one it is closed at once. Thread-safe.
  using CopyDialogScript = std::function<void(CopyDialogModel&)>;
  void setCopyDialogScript(CopyDialogScript script);
  // What the modal interactions were asked so far. Thread-safe.
  std::vector<std::string> messages() const;
  struct MessageBox {
    std::string text;
    std::string caption;
  };
  std::vector<MessageBox> messageBoxes() const;
  std::vector<PathRequest> pathRequests() const;
  int aboutCount() const;
  bool timerPending(int id) const;

private:
  struct Timer {
    std::chrono::steady_clock::time_point due;
    Task onFire;
  };
  void loop();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  std::map<int, Timer> timers_;
  bool stopping_ = false;
  PathResponder pathResponder_;
  CopyDialogScript copyDialogScript_;
  std::vector<MessageBox> messages_;
  std::vector<PathRequest> pathRequests_;
  int aboutCount_ = 0;
  std::thread thread_; // last: starts after every other member exists
};

} // namespace tarvix::ui
