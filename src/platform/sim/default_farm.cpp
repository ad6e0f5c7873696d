#include "platform/sim/default_farm.h"

#include <cstdlib>

namespace tarvix::platform::sim {

std::filesystem::path userCacheDir() {
#ifdef _WIN32
  const char* local = std::getenv("LOCALAPPDATA");
  if (local && *local) return std::filesystem::path(local) / "Tarvix" / "cache";
  return {};
#else
  // A relative XDG_CACHE_HOME is invalid by the base directory rules and is ignored.
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache == '/') return std::filesystem::path(cache) / "tarvix";
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return std::filesystem::path(home) / ".cache" / "tarvix";
  return {};
#endif
}

} // namespace tarvix::platform::sim
