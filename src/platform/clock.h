// The station's one source of time. Every wait the station makes (open retries, pauses, the poll
// period, a child process's time-out) goes through a Clock, so a simulated farm's time scale
// shortens all of them alike and tests never sleep for real seconds.
// Implementations are thread-safe: workers and the window thread share one clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace tarvix::platform {

struct LocalTime {
  int year = 0;  // e.g. 2021
  int month = 0; // 1-12
  int day = 0;   // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
public:
  virtual ~Clock() = default;
  // Station milliseconds since an arbitrary origin; monotonic.
  virtual std::uint64_t tickMs() const = 0;
  // Waits `ms` station milliseconds.
  virtual void sleepMs(std::uint32_t ms) = 0;
  // The real duration of `ms` station milliseconds, for waits that a host or OS carries out.
  virtual std::chrono::nanoseconds realDuration(std::uint32_t ms) const = 0;
  // Wall-clock local time (volume serial numbers are made from it).
  virtual LocalTime localTime() const = 0;
};

// The wall clock's local time now, whatever a clock's scale.
LocalTime localTimeNow();

// Real time multiplied by `scale` (1.0 is real time, 0.01 makes a 500 ms wait last 5 ms).
class ScaledClock final : public Clock {
public:
  explicit ScaledClock(double scale = 1.0);
  std::uint64_t tickMs() const override;
  void sleepMs(std::uint32_t ms) override;
  std::chrono::nanoseconds realDuration(std::uint32_t ms) const override;
  LocalTime localTime() const override;
  double scale() const { return scale_; }

private:
  double scale_;
  std::chrono::steady_clock::time_point origin_;
};

} // namespace tarvix::platform
