// The capacity check. A forged card reports more than its flash holds: beyond the flash, writes
// are lost or land on lower addresses. Blocks stamped in every sector with that sector's number
// and a value fresh for this run go to positions spread over the LUN, highest first, and are read
// back: a lost write reads back as something else, and an aliased one is overwritten by the lower
// block written after it. What the blocks covered is saved before and written back after.
#include "channel/command_blocks.h"
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/lun_capacity.h"
#include "run/reader_session.h"
#include "run/steps.h"
#include "text/texts.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <numeric>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarvix::run {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kBlockSectors = channel::kSectorsPerTransfer;
constexpr std::uint64_t kMiBSectors = (1u << 20) / channel::kSectorSize;
constexpr std::size_t kSpreadBlocks = 64;
constexpr std::uint64_t kLowMiB = 32;
constexpr std::size_t kAliasProbes = 1024; // the whole top half of a 64 GiB card
// Saves, stamps, read-backs and restores together, on a card of any size.
constexpr std::uint64_t kByteBudget = 24u << 20;
constexpr std::uint64_t kBlockBytes = channel::kMaxTransferBytes;
// Two saving reads, the stamp, its read-back and the restore.
constexpr std::uint64_t kProbeBytes = 5 * kBlockBytes;
// A divisor probe moves two blocks: four saving reads, two stamps, one read-back, two restores.
constexpr std::uint64_t kDivisorProbeBytes = 9 * kBlockBytes;
constexpr int kDivisorProbes = 4;
constexpr std::uint64_t kDivisorSearch = 1024; // divisors looked at past the first candidate
constexpr std::size_t kStampBytes = 16;
constexpr std::string_view kSizeField = "%d";
constexpr std::string_view kTraceHead = "Capacity check: ";

std::uint64_t nextRandom(std::uint64_t& state) {
  // splitmix64: every worker keeps its own state.
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t distance(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; }

void put64(std::uint8_t* at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i)
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
std::uint64_t get64(const std::uint8_t* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i)
    value = value << 8 | at[i];
  return value;
}

// The first and last block, the first block of every MiB that is a power of two, the last whole
// MiB, every MiB of the card's first kLowMiB, and random MiB starts up to kSpreadBlocks in all. A
// wrapping card aliases by whole MiB, so only blocks at the same place in their MiB can land on
// one another.
std::vector<std::uint64_t> spreadPositions(std::uint64_t lastMiB, std::uint64_t last,
                                           std::uint64_t seed) {
  std::set<std::uint64_t> at = {0, last, lastMiB * kMiBSectors};
  for (std::uint64_t mib = 1; mib <= lastMiB; mib *= 2)
    at.insert(mib * kMiBSectors);
  for (std::uint64_t mib = 1; mib < std::min(kLowMiB, lastMiB); ++mib)
    at.insert(mib * kMiBSectors);
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::uint64_t>(kSpreadBlocks, lastMiB + 1 + (last != 0)));
  while (at.size() < wanted)
    at.insert(nextRandom(seed) % (lastMiB + 1) * kMiBSectors);
  return {at.begin(), at.end()};
}

// One sector read at MiB starts kLowMiB apart down the top half of the LUN: a wrapping card
// shows there the stamp of the low block it lands on. Any flash size from an eighth of the card
// up has a multiple in the top half, and the low blocks catch every multiple within their reach.
std::vector<std::uint64_t> aliasProbes(std::uint64_t lastMiB) {
  std::vector<std::uint64_t> at;
  for (std::uint64_t mib = lastMiB;
       mib >= lastMiB / 2 && mib >= kLowMiB && at.size() < kAliasProbes; mib -= kLowMiB)
    at.push_back(mib * kMiBSectors);
  return at;
}

struct Block {
  std::uint64_t first = 0;
  std::uint32_t sectors = 0;
  Bytes saved;
};

enum class Outcome { Genuine, Forged, Unfinished };

class CapacityCheck {
public:
  CapacityCheck(channel::ReaderHandleHolder& holder, std::uint64_t sectorCount, std::uint64_t seed)
      : holder_(holder), sectorCount_(sectorCount), nonce_(nextRandom(seed) | 1), seed_(seed) {}

  Outcome run() {
    const std::uint64_t last = sectorCount_ > kBlockSectors ? sectorCount_ - kBlockSectors : 0;
    const std::uint64_t lastMiB = last >= kBlockSectors ? (last - kBlockSectors) / kMiBSectors : 0;
    for (std::uint64_t first : spreadPositions(lastMiB, last, seed_))
      blocks_.push_back(block(first));
    for (Block& b : blocks_) {
      if (!save(b)) return Outcome::Unfinished;
    }
    bool written = true;
    // Highest first: a lower block written later overwrites what aliased onto it.
    for (auto b = blocks_.rbegin(); written && b != blocks_.rend(); ++b)
      written = writeStamp(*b);
    std::vector<std::optional<std::uint64_t>> firstBroken;
    for (const Block& b : blocks_) {
      if (!written) break;
      Bytes back(b.saved.size());
      written = read(back, b.first);
      firstBroken.push_back(brokenSector(back, b.first));
    }
    std::array<std::uint8_t, channel::kSectorSize> sector{};
    for (std::uint64_t at : aliasProbes(lastMiB)) {
      if (!written) break;
      if (std::ranges::any_of(blocks_, [&](const Block& b) { return b.first == at; })) continue;
      written = read(sector, at);
      if (const auto named = stampOf(sector.data())) {
        aliasGcd_ = std::gcd(aliasGcd_, distance(at, *named));
        firstBroken.push_back(at);
      }
    }
    // Every save goes back whatever happened; aliased blocks saved the same bytes, so the order
    // does not matter.
    bool restored = true;
    for (const Block& b : blocks_)
      restored = write(b.saved, b.first) && restored;
    if (!written || !restored) return Outcome::Unfinished;
    if (std::ranges::none_of(firstBroken, [](const auto& s) { return s.has_value(); }))
      return Outcome::Genuine;
    return estimate(firstBroken) ? Outcome::Forged : Outcome::Unfinished;
  }

  std::uint64_t realSectors() const { return realSectors_; }
  std::uint64_t bytesMoved() const { return bytesMoved_; }
  std::size_t blocks() const { return blocks_.size(); }

private:
  Block block(std::uint64_t first) const {
    const auto sectors =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockSectors, sectorCount_ - first));
    return {first, sectors, Bytes(sectors * channel::kSectorSize)};
  }

  bool read(std::span<std::uint8_t> data, std::uint64_t first) {
    bytesMoved_ += data.size();
    return channel::ReadSector(holder_, data, static_cast<std::uint32_t>(first));
  }
  bool write(std::span<const std::uint8_t> data, std::uint64_t first) {
    bytesMoved_ += data.size();
    return channel::WriteSector(holder_, data, static_cast<std::uint32_t>(first));
  }

  // Read twice and compared: a save that read wrong once would be written back over good data.
  bool save(Block& b) {
    Bytes again(b.saved.size());
    return read(b.saved, b.first) && read(again, b.first) && again == b.saved;
  }

  bool writeStamp(const Block& b) {
    Bytes stamp(b.saved.size());
    for (std::uint32_t s = 0; s < b.sectors; ++s) {
      for (std::size_t at = 0; at < channel::kSectorSize; at += kStampBytes) {
        put64(&stamp[s * channel::kSectorSize + at], b.first + s);
        put64(&stamp[s * channel::kSectorSize + at + 8], nonce_);
      }
    }
    return write(stamp, b.first);
  }

  // The sector a sector's stamp names, or nothing when it holds no whole stamp of this run.
  std::optional<std::uint64_t> stampOf(const std::uint8_t* sector) const {
    if (get64(sector + 8) != nonce_) return std::nullopt;
    for (std::size_t at = kStampBytes; at < channel::kSectorSize; at += kStampBytes) {
      if (!std::equal(sector, sector + kStampBytes, sector + at)) return std::nullopt;
    }
    return get64(sector);
  }

  std::optional<std::uint64_t> brokenSector(const Bytes& back, std::uint64_t first) {
    for (std::size_t s = 0; s * channel::kSectorSize < back.size(); ++s) {
      const std::optional<std::uint64_t> named = stampOf(&back[s * channel::kSectorSize]);
      if (named == first + s) continue;
      // A stamp of another sector: the two are one place on the flash, a multiple of its size
      // apart.
      if (named) aliasGcd_ = std::gcd(aliasGcd_, distance(*named, first + s));
      return first + s;
    }
    return std::nullopt;
  }

  bool estimate(const std::vector<std::optional<std::uint64_t>>& firstBroken) {
    std::uint64_t lowestBroken = sectorCount_;
    std::uint64_t wholeBelow = 0;
    for (std::size_t i = 0; i < firstBroken.size(); ++i) {
      if (firstBroken[i]) lowestBroken = std::min(lowestBroken, *firstBroken[i]);
    }
    for (std::size_t i = 0; i < blocks_.size() && i < firstBroken.size(); ++i) {
      const Block& b = blocks_[i];
      if (!firstBroken[i] && b.first + b.sectors <= lowestBroken)
        wholeBelow = std::max(wholeBelow, b.first + b.sectors);
    }
    return aliasGcd_ != 0 ? wrapSize(lowestBroken) : bisect(wholeBelow, lowestBroken);
  }

  // Lost writes: every sector below the flash's end holds, every one from it on does not.
  bool bisect(std::uint64_t whole, std::uint64_t broken) {
    while (broken - whole > std::max(kMiBSectors, broken / 100) &&
           bytesMoved_ + kProbeBytes <= kByteBudget) {
      Block b = block(whole + (broken - whole) / 2);
      if (!save(b)) return false;
      const bool stamped = writeStamp(b);
      Bytes back(b.saved.size());
      const bool read = stamped && this->read(back, b.first);
      if (!write(b.saved, b.first) || !read) return false;
      if (const auto at = brokenSector(back, b.first))
        broken = *at;
      else
        whole = b.first + b.sectors;
    }
    realSectors_ = whole + (broken - whole) / 2;
    return true;
  }

  // Aliased writes: the flash's size divides every distance between two aliased sectors, and the
  // lowest broken sector lies beyond it. The largest m for which aliasGcd / m still aliases names
  // it; a few probes tell the likely m apart.
  bool wrapSize(std::uint64_t lowestBroken) {
    std::uint64_t m = (aliasGcd_ + lowestBroken - 1) / lowestBroken;
    while (aliasGcd_ % m != 0)
      ++m;
    realSectors_ = aliasGcd_ / m;
    int probes = 0;
    for (std::uint64_t k = m;
         probes < kDivisorProbes && k < m + kDivisorSearch && aliasGcd_ / k >= kBlockSectors; ++k) {
      if (aliasGcd_ % k != 0 || aliasGcd_ / k + kBlockSectors > sectorCount_) continue;
      if (bytesMoved_ + kDivisorProbeBytes > kByteBudget) break;
      ++probes;
      const std::optional<bool> aliases = aliasesAt(aliasGcd_ / k);
      if (!aliases) return false;
      if (*aliases) realSectors_ = aliasGcd_ / k;
    }
    return true;
  }

  // Whether the block `apart` sectors up lands on the first block.
  std::optional<bool> aliasesAt(std::uint64_t apart) {
    Block low = block(0);
    Block high = block(apart);
    if (!save(low) || !save(high)) return std::nullopt;
    const bool stamped = writeStamp(high) && writeStamp(low);
    Bytes back(high.saved.size());
    const bool read = stamped && this->read(back, high.first);
    const bool restored = write(high.saved, high.first) && write(low.saved, low.first);
    if (!read || !restored) return std::nullopt;
    return stampOf(back.data()) == std::optional<std::uint64_t>(0);
  }

  channel::ReaderHandleHolder& holder_;
  const std::uint64_t sectorCount_;
  const std::uint64_t nonce_;
  const std::uint64_t seed_;
  std::vector<Block> blocks_;
  std::uint64_t aliasGcd_ = 0;
  std::uint64_t realSectors_ = 0;
  std::uint64_t bytesMoved_ = 0;
};

// Fresh for every check: the tick, the drive and a count of checks made.
std::uint64_t freshSeed(platform::Clock& clock, int driveIndex) {
  static std::atomic<std::uint64_t> checks{0};
  std::uint64_t state = clock.tickMs() ^ (std::uint64_t(driveIndex) << 56) ^ checks++ << 40;
  return nextRandom(state);
}

std::string withSize(std::string text, std::uint64_t mib) {
  const std::size_t at = text.find(kSizeField);
  if (at != std::string::npos) text.replace(at, kSizeField.size(), std::to_string(mib));
  return text;
}

} // namespace

bool capacityCheckStep(const StepContext& context, int driveIndex) {
  if (!context.options.capacityCheck) return true;

  const StepDrive record = context.drive(driveIndex);
  platform::Platform& platform = context.platform;
  const std::uint64_t started = platform.clock.tickMs();
  ReaderSession m_hUSBDeviceHandle(context, driveIndex);
  const std::uint64_t sectorCount =
      sectorCountWithRetries(m_hUSBDeviceHandle, platform.clock, CapacityForm::Unit, record.lun);

  CapacityCheck check(m_hUSBDeviceHandle, sectorCount, freshSeed(platform.clock, driveIndex));
  const Outcome outcome = sectorCount == 0 ? Outcome::Unfinished : check.run();
  m_hUSBDeviceHandle.close(); // before the summary line, as the trace always had it

  const std::uint64_t realMiB = check.realSectors() / kMiBSectors;
  platform.trace.line(
      std::string(kTraceHead) + std::to_string(check.blocks()) + " blocks, " +
      std::to_string(check.bytesMoved()) + " bytes moved, " +
      std::to_string(platform.clock.tickMs() - started) + " ms" +
      (outcome == Outcome::Forged ? ", real " + std::to_string(realMiB) + " MiB" : std::string()));
  const auto note = [&](station::CapacityVerdict verdict) {
    context.noteCapacityCheck(record.lun, verdict, static_cast<std::uint32_t>(realMiB));
  };
  switch (outcome) {
  case Outcome::Genuine: note(station::CapacityVerdict::Genuine); return true;
  case Outcome::Forged:
    note(station::CapacityVerdict::Forged);
    context.display->showColour(record.slot, station::SlotColour::Failed);
    context.display->showLine(
        record.slot,
        withSize(text::localized(text::kFakeCardRealSize, context.languageOffset), realMiB));
    return false;
  case Outcome::Unfinished: break;
  }
  note(station::CapacityVerdict::Unfinished);
  context.showFailure(record.slot, text::kCapacityCheckFailed);
  return false;
}

} // namespace tarvix::run
