// The per-port and per-drive state the window owns and the scans, the run control and the
// workers share. Flags and per-LUN fields of one port are written by one side and read by the
// other without a lock, so they are atomics: a stale read is harmless, a torn one impossible.
#pragma once

#include "station/numbering.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace tarvix::station {

// What the steps do with a LUN of a port.
enum class LunKind : int {
  None = 0,     // nothing to do
  Card = 1,     // a card LUN: the production steps run on it
  SizeOnly = 2, // its size is shown through the card check only
};

// A port LUN without a drive. Not 0: drive index 0 is drive A.
inline constexpr int kNoDrive = -1;

struct PortRecord {
  PortRecord() { clear(); }
  std::atomic<bool> assigned{false};
  std::atomic<bool> busy{false};
  std::atomic<bool> done{false};
  std::atomic<bool> ready{false};
  std::atomic<bool> cardInfoWritten{false};
  std::array<std::atomic<char>, kLunsPerPort> driveLetter{}; // 0 = no drive; name is letter + ':'
  std::atomic<int> portNumber{0};
  std::array<std::atomic<int>, kLunsPerPort> driveIndex{}; // kNoDrive = none
  std::array<std::atomic<LunKind>, kLunsPerPort> lunKind{};

  // Every field back to zero.
  void clear();
  // True when no LUN of the port has a drive.
  bool empty() const;
};

// "E" -> "E:"; the name a reader is opened by.
std::string driveName(char letter);

// What the capacity check found on a slot's card in this run.
enum class CapacityVerdict : int {
  NotChecked = 0,
  Genuine,    // every stamped block came back whole
  Forged,     // the card holds less than it reports; realMiB says how much
  Unfinished, // a transfer failed before the check could tell
};

// Slot colour states of a result line.
enum class SlotColour : int { Idle = 0, Failed = 1, Passed = 2, Running = 3 };

// 0xRRGGBB of a slot colour; idle has none (the line keeps the system's button-face colour).
constexpr std::uint32_t slotColourRgb(SlotColour colour) {
  switch (colour) {
  case SlotColour::Failed: return 0xFF0000;
  case SlotColour::Passed: return 0x00FF00;
  case SlotColour::Running: return 0xC8C8FF;
  case SlotColour::Idle: break;
  }
  return 0;
}

} // namespace tarvix::station
