// A platform for tests of the window and its start-up: fixed locale, memory and drives, no USB
// devices, a captured trace, and a clock that runs a hundred times faster than real time.
#pragma once

#include "platform/platform.h"

#include <string>

namespace tarvix::testing {

class FakeSystem : public platform::SystemServices {
public:
  std::uint64_t availableMemoryBytes() const override { return memoryBytes; }
  std::string systemLocale() const override { return locale; }
  std::string hostName() const override { return "station-1"; }
  std::filesystem::path executablePath() const override { return executable; }
  bool acquireInstanceLock(const std::string&) override { return true; }
  void applySystemAdjustments() override { ++adjustments; }
  platform::ProcessOutcome runHidden(const std::vector<std::string>&,
                                     const std::vector<std::string>&, const std::filesystem::path&,
                                     std::chrono::nanoseconds,
                                     const std::function<bool()>&) override {
    return {};
  }

  std::uint64_t memoryBytes = 8ULL << 30;
  std::string locale = "en_US.UTF-8";
  std::filesystem::path executable = "/nonexistent/tarvix/tarvix";
  int adjustments = 0;
};

class FakeDrives final : public platform::Drives {
public:
  std::uint32_t logicalDriveMask() const override { return mask; }
  std::optional<platform::DriveInfo> inspect(char) const override { return std::nullopt; }
  void setEventListener(std::function<void(platform::DeviceEvent)> l) override { listener = l; }
  std::uint32_t mask = 1U << 2;
  std::function<void(platform::DeviceEvent)> listener;
};

class NoUsb final : public platform::UsbTree {
public:
  platform::UsbTopology snapshot() const override { return {}; }
};

class NoReaders final : public platform::ReaderAccess {
public:
  platform::ReaderHandle open(std::string_view) override { return platform::kNoReader; }
  bool send(platform::ReaderHandle, platform::PassThroughRequest&) override { return false; }
  void close(platform::ReaderHandle) override {}
};

class NoVolumes final : public platform::Volumes {
public:
  std::unique_ptr<platform::Volume> open(std::string_view) override { return nullptr; }
  bool rereadPartitionLayout(std::string_view) override { return false; }
  std::optional<std::string> copyTarget(std::string_view) const override { return std::nullopt; }
};

struct FakePlatform {
  platform::ScaledClock clock{0.01};
  platform::CapturingTrace trace;
  FakeSystem system;
  FakeDrives drives;
  NoUsb usb;
  NoReaders readers;
  NoVolumes volumes;
  platform::Platform platform{clock, trace, system, drives, usb, readers, volumes};
};

} // namespace tarvix::testing
