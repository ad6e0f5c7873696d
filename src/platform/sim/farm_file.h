// Reads a farm file into a FarmPlan. A bad file yields one message that names the source, the
// JSON path of the offending field and what is wrong with it; nothing is half-read.
// Pure: touches no file. Reentrant.
//
// Beyond the fields every farm file knows, a few spell out what the short forms leave open:
// - a fault is { "command": <name or "open">, "after": n, "fault": "fail" | "corrupt" | "pull" |
//   "hang", "times": k, "fromSector": s } (after defaults to 0; times to every time, but once for
//   "pull"; fromSector, on ReadSector and WriteSector only, to every sector), and
//   { "command": "open", "failFirst": k } makes the first k open attempts fail;
// - a host controller may carry its own "MBps" in place of the farm's busMBps;
// - every rate (busMBps, MBps, readMBps, writeMBps) carries 64 KiB within a command's 2-second
//   time-out, so that no transfer can wait for ever;
// - a reader may say "plugged": false to start unplugged, for events or tests to plug it in;
// - a two-slot reader's "cards" entries take cardMiB, cardSectors, cardType and partitioned.
#pragma once

#include "platform/sim/farm_plan.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvix::platform::sim {

// `sourceName` heads every message; a relative imageDir is taken from `baseDir`.
std::optional<FarmPlan> parseFarm(std::string_view json, std::string_view sourceName,
                                  const std::filesystem::path& baseDir, std::string& error);
// One fault as a reader's "faults" entry has it, for a reader already served; failFirst, which
// only a reader's start can take, is refused.
std::optional<FaultPlan> parseFault(std::string_view json, std::string& error);

} // namespace tarvix::platform::sim
