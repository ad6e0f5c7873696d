// Process-level services on Windows: memory status, the user's locale, a named mutex for the
// single-instance lock, the registry adjustments and hidden child processes in a job object.
#pragma once

#include "platform/system.h"
#include "platform/trace.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tarvix::platform::windows {

class WindowsSystem final : public SystemServices {
public:
  // `trace` takes the registry adjustments' lines; null traces nothing. Without `adjust` the
  // adjustments are left out: a station on a simulated farm changes nothing of the system's.
  explicit WindowsSystem(TraceSink* trace = nullptr, bool adjust = true)
      : trace_(trace), adjust_(adjust) {}
  ~WindowsSystem() override;
  WindowsSystem(const WindowsSystem&) = delete;
  WindowsSystem& operator=(const WindowsSystem&) = delete;

  std::uint64_t availableMemoryBytes() const override;
  std::string systemLocale() const override;
  std::string hostName() const override;
  std::filesystem::path executablePath() const override;
  bool acquireInstanceLock(const std::string& name) override;
  void applySystemAdjustments() override;
  void ignoreSerialNumbersOf(std::string_view vendorId, std::string_view productId) override;
  ProcessOutcome runHidden(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment,
                           const std::filesystem::path& workingDir,
                           std::chrono::nanoseconds timeout,
                           const std::function<bool()>& wanted) override;

private:
  TraceSink* trace_;
  bool adjust_;
  void* mutex_ = nullptr; // held for the life of the process; the system releases it at exit
};

// The instance lock name of an executable: its file name without folder and extension.
std::string instanceLockName(const std::filesystem::path& executable);

} // namespace tarvix::platform::windows
