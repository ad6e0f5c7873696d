// Reads a farm file into a FarmSpec. A bad file yields one message that names the source, the
// JSON path of the offending field and what is wrong with it; nothing is half-read.
// Pure: touches no file but the one it is given. Reentrant.
#pragma once

#include "platform/sim/farm_spec.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvix::platform::sim {

// `sourceName` heads every message; a relative imageDir is taken from `baseDir`.
std::optional<FarmSpec> parseFarm(std::string_view json, std::string_view sourceName,
                                  const std::filesystem::path& baseDir, std::string& error);

} // namespace tarvix::platform::sim
