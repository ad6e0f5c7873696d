// A window host with no window: its own event-loop thread runs posted tasks and timers in order.
// Modal interactions are answered by a scripted responder and recorded, so tests and batch runs
// can see every message the operator would have seen.
#pragma once

#include "ui/host.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
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
  // Blocks a thread other than the window thread until `condition` holds, or for at most
  // `timeout` when one is given; true when it held. The window thread checks the condition at
  // once and again after every task and timer it runs, so the waiting thread sleeps until then.
  // One thread waits at a time.
  bool waitUntil(std::function<bool()> condition,
                 std::optional<std::chrono::nanoseconds> timeout = std::nullopt);
  // How many tasks and timers the window thread has run: each would wake a resting window.
  // Thread-safe.
  std::uint64_t wakes() const;

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
  // Runs one task or timer with the lock released, then checks what waitUntil waits for.
  void wakeFor(std::unique_lock<std::mutex>& lock, const Task& work);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  std::map<int, Timer> timers_;
  bool stopping_ = false;
  std::uint64_t wakes_ = 0;
  std::function<bool()> awaited_; // what waitUntil waits for; empty when nobody waits
  bool awaitedHeld_ = false;
  std::uint64_t waits_ = 0; // tells one waitUntil's condition from the next
  std::condition_variable held_;
  PathResponder pathResponder_;
  CopyDialogScript copyDialogScript_;
  std::vector<MessageBox> messages_;
  std::vector<PathRequest> pathRequests_;
  int aboutCount_ = 0;
  std::thread thread_; // last: starts after every other member exists
};

} // namespace tarvix::ui
