// Small stand-ins for the platform and the window that discovery talks to: a USB tree and drive
// letters built in the test, readers that answer the identity and capacity commands from a table,
// and window controls that remember what was done to them.
#pragma once

#include "platform/platform.h"
#include "station/controls.h"

#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tarvix::testing {

inline platform::UsbPort nothing() { return {}; }
inline platform::UsbPort device(std::string key, char firstLetter) {
  platform::UsbPort p;
  p.attached = platform::UsbPort::Attached::Device;
  p.deviceKey = std::move(key);
  p.firstVolumeLetter = firstLetter;
  return p;
}
inline platform::UsbPort hub(std::vector<platform::UsbPort> ports) {
  platform::UsbPort p;
  p.attached = platform::UsbPort::Attached::Hub;
  p.ports = std::move(ports);
  return p;
}
// `n` empty ports with `at` (1-based) holding what is given.
inline std::vector<platform::UsbPort> ports(int n, std::map<int, platform::UsbPort> at = {}) {
  std::vector<platform::UsbPort> list(n);
  for (auto& [p, port] : at)
    list[p - 1] = port;
  return list;
}

class TableDrives final : public platform::Drives, public platform::UsbTree {
public:
  std::uint32_t logicalDriveMask() const override {
    std::uint32_t mask = 1U << 2;
    for (auto& [letter, info] : drives)
      mask |= 1U << (letter - 'A');
    for (char letter : uninspectable)
      mask |= 1U << (letter - 'A');
    return mask;
  }
  std::optional<platform::DriveInfo> inspect(char letter) const override {
    auto it = drives.find(letter);
    if (it == drives.end()) return std::nullopt;
    return it->second;
  }
  void setEventListener(std::function<void(platform::DeviceEvent)>) override {}
  platform::UsbTopology snapshot() const override { return topology; }

  void add(char letter, std::string key, std::uint32_t number,
           platform::DriveType type = platform::DriveType::Removable) {
    drives[letter] = {number, type, std::move(key)};
  }

  std::map<char, platform::DriveInfo> drives;
  std::vector<char> uninspectable; // present letters with nothing the station can use behind them
  platform::UsbTopology topology;
};

// What one scripted reader answers.
struct ScriptedReader {
  std::uint16_t vendorId = 0x3C7D;
  std::uint16_t productId = 0xA704;
  std::uint8_t modelNibble = 0;
  std::uint8_t cardType = 0xFE;
  std::array<std::uint8_t, 128> eeprom{};
  std::vector<std::uint32_t> unitSectors; // capacity of unit 0, 1, ...; 0 = no card
  std::uint32_t cardSectors = 0;
  std::array<std::uint8_t, 512> lastBlock{};
};

class ScriptedReaders final : public platform::ReaderAccess {
public:
  platform::ReaderHandle open(std::string_view name) override {
    std::lock_guard lock(mutex_);
    if (readers.count(std::string(name)) == 0) return platform::kNoReader;
    handles_.push_back(std::string(name));
    return static_cast<platform::ReaderHandle>(handles_.size() - 1);
  }
  bool send(platform::ReaderHandle handle, platform::PassThroughRequest& r) override {
    std::lock_guard lock(mutex_);
    const ScriptedReader& reader = readers.at(handles_.at(handle));
    const auto& cdb = r.commandBlock;
    if (cdb[0] != 0xFB) return fail(r);
    auto be32 = [](std::uint8_t* p, std::uint32_t v) {
      p[0] = static_cast<std::uint8_t>(v >> 24);
      p[1] = static_cast<std::uint8_t>(v >> 16);
      p[2] = static_cast<std::uint8_t>(v >> 8);
      p[3] = static_cast<std::uint8_t>(v);
    };
    switch (cdb[1]) {
    case 0x14:
      r.data[0] = static_cast<std::uint8_t>(reader.vendorId >> 8);
      r.data[1] = static_cast<std::uint8_t>(reader.vendorId);
      r.data[2] = static_cast<std::uint8_t>(reader.productId >> 8);
      r.data[3] = static_cast<std::uint8_t>(reader.productId);
      return true;
    case 0x16: r.data[0] = reader.cardType; return true;
    case 0x3E: r.data[4] = static_cast<std::uint8_t>(reader.modelNibble << 4); return true;
    case 0x19:
      std::memcpy(r.data, reader.eeprom.data(), std::min<std::size_t>(r.dataLength, 128));
      return true;
    case 0x11: {
      const bool cardForm = cdb[7] == 1;
      const std::uint32_t sectors = cardForm ? reader.cardSectors
                                    : cdb[5] < reader.unitSectors.size()
                                        ? reader.unitSectors[cdb[5]]
                                        : 0;
      if (sectors == 0) return fail(r);
      be32(r.data, sectors);
      be32(r.data + 4, 512);
      return true;
    }
    case 0x12: {
      const std::uint32_t start = (cdb[5] << 24) | (cdb[6] << 16) | (cdb[7] << 8) | cdb[8];
      if (start != reader.cardSectors - 1) return fail(r);
      std::memcpy(r.data, reader.lastBlock.data(), 512);
      return true;
    }
    default: return fail(r);
    }
  }
  void close(platform::ReaderHandle) override {}

  std::map<std::string, ScriptedReader> readers; // by drive name, "E:"

private:
  static bool fail(platform::PassThroughRequest& r) {
    r.errorCode = 5;
    return false;
  }
  std::mutex mutex_;
  std::vector<std::string> handles_;
};

class NoVolumes final : public platform::Volumes {
public:
  std::unique_ptr<platform::Volume> open(std::string_view) override { return nullptr; }
  bool rereadPartitionLayout(std::string_view) override { return false; }
  std::optional<std::string> copyTarget(std::string_view) const override { return std::nullopt; }
};

class NoSystem final : public platform::SystemServices {
public:
  std::uint64_t availableMemoryBytes() const override { return 0; }
  std::string systemLocale() const override { return {}; }
  std::string hostName() const override { return {}; }
  std::filesystem::path executablePath() const override { return {}; }
  bool acquireInstanceLock(const std::string&) override { return true; }
  void applySystemAdjustments() override {}
  platform::ProcessOutcome runHidden(const std::vector<std::string>&,
                                     const std::vector<std::string>&, const std::filesystem::path&,
                                     std::chrono::nanoseconds,
                                     const std::function<bool()>&) override {
    return {};
  }
};

class RecordingControls final : public station::WindowControls {
public:
  struct Control {
    std::string text;
    bool enabled = true;
    int picture = 0;
    int progress = -1;
    station::FontChoice font = station::FontChoice::Default;
  };
  void setText(int id, const std::string& t) override { controls[id].text = t; }
  std::string text(int id) const override { return get(id).text; }
  int number(int id) const override { return std::atoi(get(id).text.c_str()); }
  bool checked(int) const override { return false; }
  void setChecked(int, bool) override {}
  void enable(int id, bool on) override { controls[id].enabled = on; }
  void show(int, bool) override {}
  void setPicture(int id, int picture) override { controls[id].picture = picture; }
  void setProgressRange(int, int, int) override {}
  void setProgress(int id, int position) override { controls[id].progress = position; }
  void addRow(int, const std::string&) override {}
  int selectedRow(int) const override { return -1; }
  void setSelectedRow(int, int) override {}
  void setFont(int id, station::FontChoice font) override { controls[id].font = font; }
  void messageBox(const std::string&) override {}

  Control get(int id) const {
    auto it = controls.find(id);
    return it == controls.end() ? Control{} : it->second;
  }
  std::map<int, Control> controls;
};

} // namespace tarvix::testing
