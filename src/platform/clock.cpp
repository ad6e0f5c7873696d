#include "platform/clock.h"

#include <ctime>
#include <thread>

namespace tarvix::platform {

ScaledClock::ScaledClock(double scale)
    : scale_(scale > 0 ? scale : 1.0), origin_(std::chrono::steady_clock::now()) {}

std::uint64_t ScaledClock::tickMs() const {
  const auto real = std::chrono::steady_clock::now() - origin_;
  const double realMs = std::chrono::duration<double, std::milli>(real).count();
  return static_cast<std::uint64_t>(realMs / scale_);
}

void ScaledClock::sleepMs(std::uint32_t ms) {
  // Until a deadline rather than once for a duration: Windows rounds a wait shorter than its
  // timer's tick down to none.
  const auto until = std::chrono::steady_clock::now() + realDuration(ms);
  while (std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(until - std::chrono::steady_clock::now());
}

std::chrono::nanoseconds ScaledClock::realDuration(std::uint32_t ms) const {
  return std::chrono::nanoseconds(
      static_cast<std::int64_t>(static_cast<double>(ms) * 1e6 * scale_));
}

LocalTime ScaledClock::localTime() const { return localTimeNow(); }

LocalTime localTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm parts{};
#ifdef _WIN32
  localtime_s(&parts, &seconds);
#else
  localtime_r(&seconds, &parts);
#endif
  const auto sinceSecond = now - std::chrono::system_clock::from_time_t(seconds);
  return LocalTime{
      parts.tm_year + 1900,
      parts.tm_mon + 1,
      parts.tm_mday,
      parts.tm_hour,
      parts.tm_min,
      parts.tm_sec,
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceSecond).count())};
}

} // namespace tarvix::platform
