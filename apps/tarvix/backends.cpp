#include "backends.h"

#include "platform/clock.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/sg/sg_reader_access.h"
#include "platform/linux/usb/linux_usb_backend.h"
#include "platform/sim/farm.h"
#include "platform/trace.h"

#include <functional>
#include <sstream>

namespace tarvix::cli {
namespace {

namespace linux_backend = platform::linux_backend;

std::string farmName(const Options& options) {
  if (options.simulate) return "built-in";
  std::error_code ignored;
  return std::filesystem::weakly_canonical(options.farmFile, ignored).string();
}

class LinuxBackend final : public Backend {
public:
  platform::Platform& platform() override { return platform_; }

private:
  linux_backend::LinuxSystem system_;
  platform::StderrTrace trace_;
  platform::ScaledClock clock_;
  platform::linux_usb::LinuxUsbBackend usb_{trace_};
  linux_backend::SgReaderAccess readers_{usb_.resolver(), trace_};
  platform::Platform platform_{clock_,     trace_,   system_,       usb_.drives(),
                               usb_.usb(), readers_, usb_.volumes()};
};

class FarmBackend final : public Backend {
public:
  explicit FarmBackend(std::unique_ptr<platform::sim::Farm> farm)
      : farm_(std::move(farm)), platform_{farm_->clock(),  trace_,           system_,
                                          farm_->drives(), farm_->usbTree(), farm_->readerAccess(),
                                          farm_->volumes()} {}

  platform::Platform& platform() override { return platform_; }
  void start() override { farm_->start(); }
  platform::sim::Farm* farm() override { return farm_.get(); }

private:
  linux_backend::LinuxSystem system_;
  platform::StderrTrace trace_;
  std::unique_ptr<platform::sim::Farm> farm_;
  platform::Platform platform_;
};

} // namespace

std::string instanceLockName(const Options& options, const std::filesystem::path& executable) {
  std::string name = linux_backend::instanceLockName(executable);
  if (!options.onFarm()) return name;
  std::ostringstream farm;
  farm << ".farm-" << std::hex << std::hash<std::string>{}(farmName(options));
  return name + farm.str();
}

std::unique_ptr<Backend> makeBackend(const Options& options, std::string& error) {
  if (!options.onFarm()) return std::make_unique<LinuxBackend>();
  auto farm = options.simulate ? platform::sim::Farm::loadDefault(error)
                               : platform::sim::Farm::load(options.farmFile, error);
  if (!farm) return nullptr;
  return std::make_unique<FarmBackend>(std::move(farm));
}

} // namespace tarvix::cli
