// Process-level services of the operating system the station needs at start-up.
// Called from the window thread only, unless a method says otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::platform {

// How a hidden child process went.
struct ProcessOutcome {
  bool started = false;
  int startError = 0;  // the system's error code when it could not be started
  bool exited = false; // false: ended by the station (out of time, or no longer wanted)
  int exitCode = 0;
};

class SystemServices {
public:
  virtual ~SystemServices() = default;
  // Available physical memory in bytes; 0 when it cannot be measured. Thread-safe.
  virtual std::uint64_t availableMemoryBytes() const = 0;
  // The locale that names the user's language, e.g. "zh_TW.UTF-8"; empty when none is set.
  virtual std::string systemLocale() const = 0;
  // This computer's network name, as the production log records it; empty when unknown.
  virtual std::string hostName() const = 0;
  // The running executable; its folder holds the default settings file.
  virtual std::filesystem::path executablePath() const = 0;
  // Takes the process-wide lock `name`. False when another live process holds it. The operating
  // system releases the lock when this process ends, however it ends.
  virtual bool acquireInstanceLock(const std::string& name) = 0;
  // The persistent system adjustments the station makes at every start.
  virtual void applySystemAdjustments() = 0;
  // At every run start, for the reader identity typed into the card information: the system stops
  // telling readers of this USB vendor and product id apart by serial number. The two texts are
  // taken as typed, unchecked. Nothing to do where the system needs no such setting.
  virtual void ignoreSerialNumbersOf(std::string_view vendorId, std::string_view productId) {
    static_cast<void>(vendorId);
    static_cast<void>(productId);
  }
  // Runs `argv` hidden (no terminal input, output discarded) in `workingDir`, with `environment`
  // ("NAME=value") added to this process's, and waits up to `timeout` (a real duration) for it to
  // end, asking `wanted` every few milliseconds meanwhile. Out of time or no longer wanted, the
  // process and everything it started are ended before this returns; none outlives the station.
  // Thread-safe: every worker may run one at a time.
  virtual ProcessOutcome runHidden(const std::vector<std::string>& argv,
                                   const std::vector<std::string>& environment,
                                   const std::filesystem::path& workingDir,
                                   std::chrono::nanoseconds timeout,
                                   const std::function<bool()>& wanted) = 0;
};

} // namespace tarvix::platform
