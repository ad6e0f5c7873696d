#include "platform/linux/usb/letter_table.h"

#include <algorithm>

namespace tarvix::platform::linux_usb {
namespace {

constexpr int kLetters = 26;

int slotOf(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  return letter >= 'A' && letter <= 'Z' ? letter - 'A' : -1;
}

} // namespace

LetterTable::LetterTable(LinuxUsbConfig config) : config_(std::move(config)) {}

void LetterTable::refresh() {
  // Refreshes start one at a time and are counted as they start, so any refresh numbered above
  // what is counted now starts after this call.
  const std::uint64_t before = refreshesStarted_.load();
  std::lock_guard serial(refreshMutex_);
  if (refreshesStarted_.load() > before) return;
  refreshesStarted_.fetch_add(1);
  std::vector<LogicalUnit> present = findUsbLogicalUnits(config_);

  std::lock_guard lock(mutex_);
  // A unit keeps its letter while the same device stays at the same sysfs place; a name reused by
  // a new device is a new unit.
  for (auto& held : letters_) {
    if (!held) continue;
    const auto same = std::find_if(present.begin(), present.end(), [&](const LogicalUnit& unit) {
      return unit.id == held->id && unit.dev == held->dev;
    });
    if (same == present.end()) {
      held.reset();
    } else {
      held = std::move(*same);
      present.erase(same);
    }
  }
  // What is left is new, already in SCSI address order.
  int next = kFirstLetter - 'A';
  for (LogicalUnit& unit : present) {
    while (next < kLetters && letters_[next])
      ++next;
    if (next == kLetters) break; // out of letters: the rest wait for one to come free
    letters_[next] = std::move(unit);
  }
}

std::uint32_t LetterTable::mask() const {
  std::lock_guard lock(mutex_);
  std::uint32_t bits = 0;
  for (int i = 0; i < kLetters; ++i) {
    if (letters_[i]) bits |= 1U << i;
  }
  return bits;
}

std::optional<LogicalUnit> LetterTable::find(char letter) const {
  const int slot = slotOf(letter);
  if (slot < 0) return std::nullopt;
  std::lock_guard lock(mutex_);
  return letters_[slot];
}

std::vector<LetteredUnit> LetterTable::units() const {
  std::lock_guard lock(mutex_);
  std::vector<LetteredUnit> list;
  for (int i = 0; i < kLetters; ++i) {
    if (letters_[i]) list.push_back({static_cast<char>('A' + i), *letters_[i]});
  }
  return list;
}

} // namespace tarvix::platform::linux_usb
