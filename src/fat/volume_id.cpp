#include "fat/volume_id.h"

namespace tarvix::fat {

std::uint32_t volumeIdFromTime(const platform::LocalTime& t) {
  // Each half mixes a fast- and a slow-changing field into both of its bytes.
  const auto low =
      static_cast<std::uint32_t>(t.day + t.month * 256 + t.millisecond / 10 + t.second * 256) &
      0xFFFFu;
  const auto high = static_cast<std::uint32_t>(t.minute + t.hour * 256 + t.year) & 0xFFFFu;
  return high << 16 | low;
}

std::uint32_t make_volume_id(const platform::Clock& clock) {
  return volumeIdFromTime(clock.localTime());
}

} // namespace tarvix::fat
