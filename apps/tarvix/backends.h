// The platform a station runs on: the computer's own readers, or a simulated farm.
#pragma once

#include "command_line.h"
#include "platform/platform.h"

#include <memory>
#include <string>

namespace tarvix::platform::sim {
class Farm;
}

namespace tarvix::cli {

class Backend {
public:
  virtual ~Backend() = default;
  virtual platform::Platform& platform() = 0;
  // Starts what runs by itself (a farm's timed events).
  virtual void start() {}
  // A farm's readers, for the simulator panel; null on real hardware.
  virtual platform::sim::Farm* farm() { return nullptr; }
};

// The single-instance lock's name: the executable's base name, and for a farm the farm too, so
// stations on different farms run side by side while two on one farm exclude each other.
std::string instanceLockName(const Options& options, const std::filesystem::path& executable);

// Null with `error` set when the farm file is bad. Trace lines go to `trace`, which outlives it.
std::unique_ptr<Backend> makeBackend(const Options& options, platform::TraceSink& trace,
                                     std::string& error);

// Where the trace file and the production log live: $XDG_STATE_HOME/tarvix, or
// ~/.local/state/tarvix (%LOCALAPPDATA%\Tarvix on Windows); empty when neither can be found.
std::filesystem::path stateFolder();

} // namespace tarvix::cli
