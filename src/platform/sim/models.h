// The controller models a farm reader can be: identity, logical units and EEPROM, one row each.
#pragma once

#include "platform/sim/wire.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvix::platform::sim {

// What stands behind one logical unit of a reader.
enum class LunKind : std::uint8_t {
  PublicDisk, // the first card's public disk
  CdRom,      // the first card's CD-ROM area
  SecondCard, // the whole second card of a two-slot reader
};

struct ModelInfo {
  std::string_view name;
  std::uint16_t productId;
  std::uint8_t configByte4;                 // GetVIDPID 3Eh byte 4
  std::array<std::uint8_t, 3> lunKindBytes; // GetVIDPID 3Eh bytes 5-7
  std::uint8_t lunCount;
  std::array<LunKind, 2> luns;
  bool hasEeprom;
  std::uint8_t cardSlots;
};

inline constexpr std::array<ModelInfo, 9> kModels = {{
    {"VQ301A", 0xA704, 0x00, {1, 0, 0}, 1, {LunKind::PublicDisk}, false, 1},
    {"VQ301B", 0xA704, 0x00, {1, 0, 0}, 1, {LunKind::PublicDisk}, false, 1},
    {"VQ301C", 0xA707, 0x00, {1, 0, 0}, 1, {LunKind::PublicDisk}, false, 1},
    {"VQ301C-A-1LUN", 0xA706, 0x00, {1, 0, 0}, 1, {LunKind::PublicDisk}, false, 1},
    {"VQ301C-A-2LUN", 0xA706, 0x10, {1, 2, 0}, 2, {LunKind::PublicDisk, LunKind::CdRom}, false, 1},
    {"VQ305A", 0xA701, 0x00, {1, 0, 0}, 1, {LunKind::PublicDisk}, false, 1},
    {"VQ307B2B-1LUN", 0xA703, 0x00, {1, 0, 0}, 1, {LunKind::PublicDisk}, false, 1},
    {"VQ307B2B-2LUN",
     0xA702,
     0x00,
     {1, 1, 0},
     2,
     {LunKind::PublicDisk, LunKind::SecondCard},
     false,
     2},
    {"VQ348", 0xA708, 0x00, {1, 0, 0}, 1, {LunKind::PublicDisk}, true, 1},
}};

inline std::optional<ModelInfo> findModel(std::string_view name) {
  for (const ModelInfo& model : kModels)
    if (model.name == name) return model;
  return std::nullopt;
}

// The 16-byte GetVIDPID 3Eh reply of a model: byte 4 and the LUN kinds, the rest zero.
inline std::array<std::uint8_t, kConfigurationBytes> defaultConfiguration(const ModelInfo& model) {
  std::array<std::uint8_t, kConfigurationBytes> config{};
  config[4] = model.configByte4;
  for (std::size_t i = 0; i < model.lunKindBytes.size(); ++i)
    config[5 + i] = model.lunKindBytes[i];
  return config;
}

} // namespace tarvix::platform::sim
