// Process-level services of the operating system the station needs at start-up.
// Called from the window thread only, unless a method says otherwise.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tarvix::platform {

class SystemServices {
public:
  virtual ~SystemServices() = default;
  // Available physical memory in bytes; 0 when it cannot be measured. Thread-safe.
  virtual std::uint64_t availableMemoryBytes() const = 0;
  // The locale that names the user's language, e.g. "zh_TW.UTF-8"; empty when none is set.
  virtual std::string systemLocale() const = 0;
  // The running executable; its folder holds the default settings file.
  virtual std::filesystem::path executablePath() const = 0;
  // Takes the process-wide lock `name`. False when another live process holds it. The operating
  // system releases the lock when this process ends, however it ends.
  virtual bool acquireInstanceLock(const std::string& name) = 0;
  // The persistent system adjustments the station makes at every start.
  virtual void applySystemAdjustments() = 0;
};

} // namespace tarvix::platform
