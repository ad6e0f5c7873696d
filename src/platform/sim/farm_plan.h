// A farm file once read: plain values, every one checked. Positions refer to other entries by
// index, so the tree is flat and cheap to copy.
#pragma once

#include "platform/sim/card_image.h"
#include "platform/sim/models.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvix::platform::sim {

inline constexpr int kMaxHostControllers = 10;
inline constexpr int kMaxPortsPerHub = 15;
inline constexpr int kChainedHubPorts = 7;
// A chained hub: ports 1-3 are the outer chip's, its port 4 holds the inner chip.
inline constexpr int kOuterChipPorts = 4;
inline constexpr int kOuterChipOwnPorts = 3;
// Keeps every reader inside the seven levels a USB path can describe.
inline constexpr int kMaxHubDepth = 4;

struct CardPlan {
  std::uint64_t sectors = 0; // 0: the slot is empty
  std::uint8_t typeByte = kCardTypeSd;
  bool partitioned = false; // a fresh image gets a partition table with its volume at sector 63
  Forgery forgery;          // keptBytes is the reader's to set
};

enum class FaultAction : std::uint8_t { Fail, Corrupt, Pull, Hang, UnitAttention };

struct FaultPlan {
  std::string command; // a command name, "open" or "volumeWrite"
  std::uint32_t after = 0;
  FaultAction action = FaultAction::Fail;
  std::uint32_t times = 0; // 0: every time once armed
  // ReadSector and WriteSector only: the fault strikes commands that reach this sector or beyond,
  // as a card whose later sectors fail (0: every sector).
  std::uint64_t fromSector = 0;
};

// Where something is plugged: a root-hub port of a controller, or a port of a hub.
struct Position {
  int controller = 0;
  int hub = -1; // index into FarmPlan::hubs; -1 for a root-hub port
  int port = 0; // 1-based, in the numbering of the parent (a chained hub counts 1 to 7)
};

struct HubPlan {
  Position at;
  int ports = 0;
  int chips = 1;
  double mbps = 0; // 0: unlimited
};

struct ReaderPlan {
  std::string id;
  ModelInfo model;
  std::uint16_t vendorId = kVendorId;
  std::uint16_t productId = 0;
  std::array<std::uint8_t, kConfigurationBytes> configuration{};
  std::vector<CardPlan> cards; // one per slot of the model
  std::vector<std::uint8_t> eeprom;
  std::vector<std::uint32_t> deviceNumbers; // empty: numbered in plug order
  std::vector<FaultPlan> faults;
  std::uint32_t openFailFirst = 0;
  double readMBps = 0;
  double writeMBps = 0;
  bool pluggedAtStart = true;
  Position at;
  std::string jsonPath; // for messages about its images
};

struct ControllerPlan {
  int rootPorts = 0;
  double mbps = 0;
};

struct EventPlan {
  std::uint64_t atMs = 0;
  bool plug = false; // else pull
  std::string readerId;
};

struct FarmPlan {
  std::filesystem::path imageDir; // absolute once read
  double timeScale = 1.0;
  std::vector<ControllerPlan> controllers;
  std::vector<HubPlan> hubs;
  std::vector<ReaderPlan> readers;
  std::vector<EventPlan> events;
};

} // namespace tarvix::platform::sim
