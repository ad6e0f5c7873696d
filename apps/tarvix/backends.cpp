#include "backends.h"

#include "platform/clock.h"
#include "platform/sim/farm.h"
#include "platform/trace.h"
#ifdef _WIN32
#include "platform/windows/windows_backend.h"
#include "platform/windows/windows_system.h"
#else
#include "platform/linux/linux_system.h"
#include "platform/linux/sg/sg_reader_access.h"
#include "platform/linux/usb/linux_usb_backend.h"
#endif

#include <cstdlib>
#include <functional>
#include <sstream>

namespace tarvix::cli {
namespace {

#ifdef _WIN32
using NativeSystem = platform::windows::WindowsSystem;
using platform::windows::instanceLockName;
#else
namespace linux_backend = platform::linux_backend;
using NativeSystem = linux_backend::LinuxSystem;
using linux_backend::instanceLockName;
#endif

std::string farmName(const Options& options) {
  if (options.simulate) return "built-in";
  std::error_code ignored;
  return std::filesystem::weakly_canonical(options.farmFile, ignored).string();
}

#ifdef _WIN32
class WindowsBackend final : public Backend {
public:
  explicit WindowsBackend(platform::TraceSink& trace) : trace_(trace) {}
  platform::Platform& platform() override { return platform_; }

private:
  platform::TraceSink& trace_;
  NativeSystem system_{&trace_};
  platform::ScaledClock clock_;
  platform::windows::WindowsBackend devices_{trace_};
  platform::Platform platform_{clock_,
                               trace_,
                               system_,
                               devices_.drives(),
                               devices_.usb(),
                               devices_.readers(),
                               devices_.volumes()};
};
using NativeBackend = WindowsBackend;
#else
class LinuxBackend final : public Backend {
public:
  explicit LinuxBackend(platform::TraceSink& trace) : trace_(trace) {}
  platform::Platform& platform() override { return platform_; }

private:
  linux_backend::LinuxSystem system_;
  platform::TraceSink& trace_;
  platform::ScaledClock clock_;
  platform::linux_usb::LinuxUsbBackend usb_{trace_};
  linux_backend::SgReaderAccess readers_{usb_.resolver(), trace_};
  platform::Platform platform_{clock_,     trace_,   system_,       usb_.drives(),
                               usb_.usb(), readers_, usb_.volumes()};
};
using NativeBackend = LinuxBackend;
#endif

class FarmBackend final : public Backend {
public:
  FarmBackend(std::unique_ptr<platform::sim::Farm> farm, platform::TraceSink& trace)
      : trace_(trace),
        farm_(std::move(farm)), platform_{farm_->clock(),  trace_,           system_,
                                          farm_->drives(), farm_->usbTree(), farm_->readerAccess(),
                                          farm_->volumes()} {}

  platform::Platform& platform() override { return platform_; }
  void start() override { farm_->start(); }
  platform::sim::Farm* farm() override { return farm_.get(); }

private:
#ifdef _WIN32
  NativeSystem system_{nullptr, false};
#else
  NativeSystem system_;
#endif
  platform::TraceSink& trace_;
  std::unique_ptr<platform::sim::Farm> farm_;
  platform::Platform platform_;
};

} // namespace

std::string instanceLockName(const Options& options, const std::filesystem::path& executable) {
  std::string name = instanceLockName(executable);
  if (!options.onFarm()) return name;
  std::ostringstream farm;
  farm << ".farm-" << std::hex << std::hash<std::string>{}(farmName(options));
  return name + farm.str();
}

std::unique_ptr<Backend> makeBackend(const Options& options, platform::TraceSink& trace,
                                     std::string& error) {
  if (!options.onFarm()) return std::make_unique<NativeBackend>(trace);
  auto farm = options.simulate ? platform::sim::Farm::loadDefault(error)
                               : platform::sim::Farm::load(options.farmFile, error);
  if (!farm) return nullptr;
  return std::make_unique<FarmBackend>(std::move(farm), trace);
}

std::filesystem::path stateFolder() {
#ifdef _WIN32
  // The user's local (not roaming) application data: a trace file stays on this computer.
  const char* local = std::getenv("LOCALAPPDATA");
  if (local != nullptr && *local != '\0') return std::filesystem::path(local) / "Tarvix";
  return {};
#else
  // A relative XDG_STATE_HOME is invalid by the base directory rules and is ignored.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && std::filesystem::path(state).is_absolute())
    return std::filesystem::path(state) / "tarvix";
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0')
    return std::filesystem::path(home) / ".local" / "state" / "tarvix";
  return {};
#endif
}

} // namespace tarvix::cli
