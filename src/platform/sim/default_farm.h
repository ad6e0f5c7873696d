// The farm a station runs on when no farm file is given: one host controller, a seven-port hub (two
// chained chips, as most are) in root port 1 and seven one-LUN readers with 64 MiB SD cards. Its
// images live in the user's cache folder, so a second run finds the cards as the first left them.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarvix::platform::sim {

inline constexpr std::string_view kDefaultFarmName = "embedded default farm";

inline constexpr std::string_view kDefaultFarmJson = R"({
  "imageDir": "simulated-farm",
  "timeScale": 1.0,
  "hostControllers": [
    {
      "rootHubPorts": 8,
      "attached": [
        { "port": 1, "hub": { "ports": 7, "chips": 2, "attached": [
          { "port": 1, "reader": { "id": "r1", "model": "VQ301C-A-1LUN", "cardMiB": 64 } },
          { "port": 2, "reader": { "id": "r2", "model": "VQ301C-A-1LUN", "cardMiB": 64 } },
          { "port": 3, "reader": { "id": "r3", "model": "VQ301C-A-1LUN", "cardMiB": 64 } },
          { "port": 4, "reader": { "id": "r4", "model": "VQ301C-A-1LUN", "cardMiB": 64 } },
          { "port": 5, "reader": { "id": "r5", "model": "VQ301C-A-1LUN", "cardMiB": 64 } },
          { "port": 6, "reader": { "id": "r6", "model": "VQ301C-A-1LUN", "cardMiB": 64 } },
          { "port": 7, "reader": { "id": "r7", "model": "VQ301C-A-1LUN", "cardMiB": 64 } }
        ] } }
      ]
    }
  ]
})";

// $XDG_CACHE_HOME/tarvix, or ~/.cache/tarvix when it is unset (%LOCALAPPDATA%\Tarvix\cache on
// Windows); empty when neither can be found.
std::filesystem::path userCacheDir();

} // namespace tarvix::platform::sim
