#include "platform/sim/bandwidth.h"

#include <algorithm>
#include <thread>

namespace tarvix::platform::sim {

void Bandwidth::pass(std::span<Link* const> path, std::uint64_t bytes) {
  if (bytes == 0 || std::none_of(path.begin(), path.end(),
                                 [](const Link* link) { return link && link->limited(); }))
    return;
  using Clock = std::chrono::steady_clock;
  Clock::time_point done;
  {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    done = now;
    for (Link* link : path) {
      if (!link || !link->limited()) continue;
      const double seconds =
          static_cast<double>(bytes) / (link->megabytesPerSecond_ * 1e6) * timeScale_;
      const auto start = std::max(now, link->freeAt_);
      link->freeAt_ = start + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(seconds));
      done = std::max(done, link->freeAt_);
    }
  }
  std::this_thread::sleep_until(done);
}

} // namespace tarvix::platform::sim
