// The bandwidth model: each reader's read and write side, each hub and each host controller is a
// link of a given rate. A transfer books its bytes on every limited link of its path, each link
// serving bookings in turn, and returns when the slowest booking ends; so readers that share a
// hub share its rate. Rates are in farm time: the farm's time scale shortens them like any wait.
// Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>

namespace tarvix::platform::sim {

class Link {
public:
  explicit Link(double megabytesPerSecond = 0) : megabytesPerSecond_(megabytesPerSecond) {}
  bool limited() const { return megabytesPerSecond_ > 0; }
  double megabytesPerSecond() const { return megabytesPerSecond_; }

private:
  friend class Bandwidth;
  double megabytesPerSecond_; // 1 MB = 1,000,000 bytes, as USB rates are quoted
  std::chrono::steady_clock::time_point freeAt_{};
};

class Bandwidth {
public:
  explicit Bandwidth(double timeScale) : timeScale_(timeScale) {}
  // Books `bytes` on the limited links of `path` and waits until the transfer is through.
  // Unlimited links cost nothing; a path with none returns at once without locking.
  void pass(std::span<Link* const> path, std::uint64_t bytes);

private:
  double timeScale_;
  std::mutex mutex_;
};

} // namespace tarvix::platform::sim
