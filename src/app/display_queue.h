// What workers show in the port boxes (result lines, progress bars, pictures), kept as the latest
// value per control and property, and applied on the window thread in one go. Workers never wait
// for the window to show their progress, and a busy port wakes it a few times a second instead of
// twice per 64 KiB transfer. Thread-safe.
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

  // Keeps `apply` as the latest change of (id, property). True when nothing was pending before,
  // so the caller arranges for the queue to be flushed.
  bool put(int id, Property property, Apply apply) {
    std::lock_guard lock(mutex_);
    pending_[{id, property}] = std::move(apply);
    return !std::exchange(flushDue_, true);
  }
  // A change made on the window thread supersedes what a worker left pending for the same.
  void drop(int id, Property property) {
    std::lock_guard lock(mutex_);
    pending_.erase({id, property});
  }
  // Everything pending, in control order; the queue is empty afterwards.
  std::vector<Apply> take() {
    std::lock_guard lock(mutex_);
    std::vector<Apply> due;
    due.reserve(pending_.size());
    for (auto& entry : pending_)
      due.push_back(std::move(entry.second));
    pending_.clear();
    flushDue_ = false;
    return due;
  }

private:
  std::mutex mutex_;
  std::map<std::pair<int, Property>, Apply> pending_;
  bool flushDue_ = false;
};

} // namespace tarvix::app
