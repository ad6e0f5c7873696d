// The station: one instance per executable name, the station window until the operator closes it.
#include "app/station_window.h"
#include "platform/clock.h"
#include "platform/linux/linux_system.h"
#include "platform/trace.h"
#include "ui/qt/qt_host.h"
#include "ui/qt/station_view.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: tarvix [--help]\n"
    "Opens the station window. It needs a display: run it in a desktop session,\n"
    "or under a virtual one (xvfb-run tarvix).\n";

// Until reader discovery and the reader farm arrive, the station sees only the system disk.
class SystemDiskOnly final : public tarvix::platform::Drives, public tarvix::platform::UsbTree {
public:
  std::uint32_t logicalDriveMask() const override { return 1U << 2; }
  std::optional<tarvix::platform::DriveInfo> inspect(char) const override { return {}; }
  void setEventListener(std::function<void(tarvix::platform::DeviceEvent)>) override {}
  tarvix::platform::UsbTopology snapshot() const override { return {}; }
};

class NoReaders final : public tarvix::platform::ReaderAccess {
public:
  tarvix::platform::ReaderHandle open(std::string_view) override {
    return tarvix::platform::kNoReader;
  }
  bool send(tarvix::platform::ReaderHandle, tarvix::platform::PassThroughRequest&) override {
    return false;
  }
  void close(tarvix::platform::ReaderHandle) override {}
};

class NoVolumes final : public tarvix::platform::Volumes {
public:
  std::unique_ptr<tarvix::platform::Volume> open(std::string_view) override { return nullptr; }
};

bool haveDisplay() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

} // namespace

int main(int argc, char** argv) {
  using namespace tarvix;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    std::fprintf(stderr, "tarvix: unknown option '%s'\n%s", argv[i], kUsage);
    return 2;
  }

  platform::linux_backend::LinuxSystem system;
  // A second station for the same readers ends silently.
  if (!system.acquireInstanceLock(
          platform::linux_backend::instanceLockName(system.executablePath()))) {
    return 0;
  }
  if (!haveDisplay()) {
    std::fputs("tarvix: no display found.\n", stderr);
    std::fputs(kUsage, stderr);
    return 2;
  }

  QApplication application(argc, argv);
  platform::ScaledClock clock;
  platform::StderrTrace trace;
  SystemDiskOnly systemDisk;
  NoReaders readers;
  NoVolumes volumes;
  platform::Platform platform{clock, trace, system, systemDisk, systemDisk, readers, volumes};
  ui::QtHost host;
  app::StationWindow window(platform, host);
  window.initialise();
  ui::StationView view(window);
  host.setParentWindow(&view);
  host.setAboutHandler([&view] { view.showAboutBox(); });
  view.show();
  QApplication::exec();
  window.close();
  return 0;
}
