#include "ui/headless/headless_host.h"

#include <future>

namespace tarvix::ui {

HeadlessHost::HeadlessHost() : thread_([this] { loop(); }) {}

HeadlessHost::~HeadlessHost() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void HeadlessHost::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_all();
}

void HeadlessHost::runAndWait(const Task& task) {
  if (onWindowThread()) {
    task();
    return;
  }
  std::promise<void> finished;
  auto done = finished.get_future();
  post([&] {
    task();
    finished.set_value();
  });
  done.wait();
}

void HeadlessHost::runPending(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  if (tasks_.empty()) wake_.wait_for(lock, wait, [this] { return !tasks_.empty() || stopping_; });
  while (!tasks_.empty()) {
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    wakeFor(lock, task);
  }
}

bool HeadlessHost::onWindowThread() const { return std::this_thread::get_id() == thread_.get_id(); }

void HeadlessHost::armTimer(int id, std::chrono::nanoseconds delay, Task onFire) {
  {
    std::lock_guard lock(mutex_);
    timers_[id] = Timer{std::chrono::steady_clock::now() + delay, std::move(onFire)};
  }
  wake_.notify_all();
}

void HeadlessHost::stopTimer(int id) {
  std::lock_guard lock(mutex_);
  timers_.erase(id);
}

void HeadlessHost::loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (!tasks_.empty()) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      wakeFor(lock, task);
      continue;
    }
    auto nextTimer = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (nextTimer == timers_.end() || it->second.due < nextTimer->second.due) {
        nextTimer = it;
      }
    }
    if (nextTimer == timers_.end()) {
      wake_.wait(lock);
      continue;
    }
    if (std::chrono::steady_clock::now() < nextTimer->second.due) {
      wake_.wait_until(lock, nextTimer->second.due);
      continue; // re-examine: the timer may have been re-armed, stopped or overtaken by a task
    }
    Task fire = std::move(nextTimer->second.onFire);
    timers_.erase(nextTimer);
    wakeFor(lock, fire);
  }
}

void HeadlessHost::wakeFor(std::unique_lock<std::mutex>& lock, const Task& work) {
  ++wakes_;
  lock.unlock();
  work();
  lock.lock();
  if (!awaited_ || awaitedHeld_) return;
  // The condition reads window state, which may call back into this host: checked unlocked.
  const std::function<bool()> awaited = awaited_;
  const std::uint64_t wait = waits_;
  lock.unlock();
  const bool held = awaited();
  lock.lock();
  if (held && awaited_ && wait == waits_) {
    awaitedHeld_ = true;
    held_.notify_all();
  }
}

bool HeadlessHost::waitUntil(std::function<bool()> condition,
                             std::optional<std::chrono::nanoseconds> timeout) {
  std::unique_lock lock(mutex_);
  awaited_ = std::move(condition);
  awaitedHeld_ = false;
  ++waits_;
  tasks_.emplace_back([] {}); // a wake that only checks the condition
  wake_.notify_all();
  const auto held = [this] { return awaitedHeld_; };
  if (timeout) {
    held_.wait_for(lock, *timeout, held);
  } else {
    held_.wait(lock, held);
  }
  const bool result = awaitedHeld_;
  awaited_ = nullptr;
  awaitedHeld_ = false;
  return result;
}

std::uint64_t HeadlessHost::wakes() const {
  std::lock_guard lock(mutex_);
  return wakes_;
}

void HeadlessHost::messageBox(const std::string& text, const std::string& caption) {
  std::lock_guard lock(mutex_);
  messages_.push_back({text, caption});
}

std::optional<std::filesystem::path> HeadlessHost::askPath(const PathRequest& request) {
  PathResponder responder;
  {
    std::lock_guard lock(mutex_);
    pathRequests_.push_back(request);
    responder = pathResponder_;
  }
  if (!responder) return std::nullopt;
  return responder(request);
}

void HeadlessHost::showAbout() {
  std::lock_guard lock(mutex_);
  ++aboutCount_;
}

void HeadlessHost::runCopyDialog(CopyDialogModel& dialog) {
  CopyDialogScript script;
  {
    std::lock_guard lock(mutex_);
    script = copyDialogScript_;
  }
  if (script) script(dialog);
}

void HeadlessHost::setCopyDialogScript(CopyDialogScript script) {
  std::lock_guard lock(mutex_);
  copyDialogScript_ = std::move(script);
}

void HeadlessHost::setPathResponder(PathResponder responder) {
  std::lock_guard lock(mutex_);
  pathResponder_ = std::move(responder);
}

std::vector<std::string> HeadlessHost::messages() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const MessageBox& box : messages_)
    texts.push_back(box.text);
  return texts;
}

std::vector<HeadlessHost::MessageBox> HeadlessHost::messageBoxes() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<PathRequest> HeadlessHost::pathRequests() const {
  std::lock_guard lock(mutex_);
  return pathRequests_;
}

int HeadlessHost::aboutCount() const {
  std::lock_guard lock(mutex_);
  return aboutCount_;
}

bool HeadlessHost::timerPending(int id) const {
  std::lock_guard lock(mutex_);
  return timers_.count(id) != 0;
}

} // namespace tarvix::ui
