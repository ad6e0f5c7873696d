#include "platform/sim/default_farm.h"

#include <cstdlib>

namespace tarvix::platform::sim {

std::filesystem::path userCacheDir() {
  // A relative XDG_CACHE_HOME is invalid by the base directory rules and is ignored.
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache == '/') return std::filesystem::path(cache) / "tarvix";
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return std::filesystem::path(home) / ".cache" / "tarvix";
  return {};
}

} // namespace tarvix::platform::sim
