// What workers show in the port boxes (result lines, progress bars, pictures), kept as the latest
// value per control and property, and applied on the window thread in one go. Workers never wait
// for the window to show their progress, and busy ports wake it once per display period through
// one timer, which stays armed while changes keep coming and lapses when none came. Thread-safe.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace tarvix::app {

class DisplayQueue {
public:
  // In the order a flush applies them: a bar's range before its position.
  enum class Property { Range, Position, Text, Picture };
  using Apply = std::function<void()>;

  // Keeps `apply` as the latest change of (id, property). True when the flush timer is not armed,
  // so the caller arranges for it to be armed; until then it counts as armed.
  bool put(int id, Property property, Apply apply) {
    std::lock_guard lock(mutex_);
    pending_[{id, property}] = std::move(apply);
    return !std::exchange(timerArmed_, true);
  }
  // A change made on the window thread supersedes what a worker left pending for the same.
  void drop(int id, Property property) {
    std::lock_guard lock(mutex_);
    pending_.erase({id, property});
  }
  // Everything pending, in control order; the queue is empty afterwards.
  std::vector<Apply> take() {
    std::lock_guard lock(mutex_);
    return takeLocked();
  }
  // For the flush timer: what is pending, and whether to arm the timer again. Nothing pending
  // means the ports went quiet, so the timer lapses and the next put asks for it anew.
  std::pair<std::vector<Apply>, bool> takeOnTimer() {
    std::lock_guard lock(mutex_);
    timerArmed_ = !pending_.empty();
    return {takeLocked(), timerArmed_};
  }

private:
  std::vector<Apply> takeLocked() {
    std::vector<Apply> due;
    due.reserve(pending_.size());
    for (auto& entry : pending_)
      due.push_back(std::move(entry.second));
    pending_.clear();
    return due;
  }

  std::mutex mutex_;
  std::map<std::pair<int, Property>, Apply> pending_;
  bool timerArmed_ = false;
};

} // namespace tarvix::app
