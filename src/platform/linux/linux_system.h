// Process-level services on Linux: /proc for memory and the executable, the locale environment,
// flock for the single-instance lock.
#pragma once

#include "platform/system.h"

#include <filesystem>

namespace tarvix::platform::linux_backend {

// $XDG_RUNTIME_DIR, else a "tarvix" folder under the user's cache ($XDG_CACHE_HOME or ~/.cache),
// made private to the user when missing: no other account can hold or plant the lock there.
std::filesystem::path userLockFolder();

class LinuxSystem final : public SystemServices {
public:
  // `lockDir` holds the instance lock files; only this user may write there.
  explicit LinuxSystem(std::filesystem::path lockDir = userLockFolder());
  ~LinuxSystem() override;

  std::uint64_t availableMemoryBytes() const override;
  std::string systemLocale() const override;
  std::string hostName() const override;
  std::filesystem::path executablePath() const override;
  bool acquireInstanceLock(const std::string& name) override;
  void applySystemAdjustments() override;
  ProcessOutcome runHidden(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment,
                           const std::filesystem::path& workingDir,
                           std::chrono::nanoseconds timeout,
                           const std::function<bool()>& wanted) override;

private:
  std::filesystem::path lockDir_;
  int lockFd_ = -1; // held open for the life of the process; the kernel drops the lock at exit
};

// The instance lock name of an executable: its file name without folder and extension.
std::string instanceLockName(const std::filesystem::path& executable);

} // namespace tarvix::platform::linux_backend
