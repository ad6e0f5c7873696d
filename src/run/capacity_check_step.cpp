// The capacity check. A forged card reports more than its flash holds: beyond the flash, writes
// are lost or land on lower addresses. Blocks stamped in every sector with that sector's number
// and a value fresh for this run go to positions spread over the LUN, highest first, and are read
// back: a lost write reads back as something else, and an aliased one is overwritten by the lower
// block written after it. Single sectors then find the flash's end to the sector. What the stamps
// covered is saved before and written back after.
#include "channel/command_blocks.h"
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "platform/byte_order.h"
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
#include <span>
#include <string>
#include <vector>

namespace tarvix::run {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kBlockSectors = channel::kSectorsPerTransfer;
constexpr std::uint64_t kSectorBytes = channel::kSectorSize;
constexpr std::uint64_t kMiBSectors = (1u << 20) / kSectorBytes;
constexpr std::size_t kSpreadBlocks = 64;
constexpr std::uint64_t kLowMiB = 32;
constexpr std::size_t kAliasProbes = 1024; // the whole top half of a 64 GiB card
// Saves, stamps, read-backs and restores together, on a card of any size.
constexpr std::uint64_t kByteBudget = 24u << 20;
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

void put64(std::uint8_t* at, std::uint64_t value) { platform::putLittleEndian(at, value, 8); }
std::uint64_t get64(const std::uint8_t* at) { return platform::littleEndian(at, 8); }

// The prime factors of `n`, each once.
std::vector<std::uint64_t> primeFactors(std::uint64_t n) {
  std::vector<std::uint64_t> primes;
  for (std::uint64_t p = 2; p * p <= n; ++p) {
    if (n % p != 0) continue;
    primes.push_back(p);
    while (n % p == 0)
      n /= p;
  }
  if (n > 1) primes.push_back(n);
  return primes;
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

// What a sector read back holds: its own stamp, the stamp of another sector (both are one place on
// the flash), no stamp of this run (the write was lost), or a stamp of this run read back wrong
// (the reader, not the card, is at fault).
enum class Reading { Own, Alias, Lost, Damaged };

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
    bool moved = true;
    // Highest first: a lower block written later overwrites what aliased onto it.
    for (auto b = blocks_.rbegin(); moved && b != blocks_.rend(); ++b)
      moved = write(stamped(b->first, b->sectors), b->first);
    for (const Block& b : blocks_) {
      if (!moved) break;
      const auto back = scratch(b.saved.size());
      moved = read(back, b.first);
      if (moved) judgeBlock(b, back);
    }
    std::array<std::uint8_t, kSectorBytes> sector{};
    for (std::uint64_t at : aliasProbes(lastMiB)) {
      if (!moved) break;
      if (std::ranges::any_of(blocks_, [&](const Block& b) { return b.first == at; })) continue;
      moved = read(sector, at);
      // Not written by this run: only a stamp that landed on it says anything.
      const Reading kind = moved ? reading(sector.data(), at) : Reading::Own;
      if (kind == Reading::Alias || kind == Reading::Damaged) judge(sector, at);
    }
    // Every save goes back whatever happened; aliased blocks saved the same bytes, so the order
    // does not matter.
    bool restored = true;
    for (const Block& b : blocks_)
      restored = write(b.saved, b.first) && restored;
    if (!moved || !restored || damaged_) return Outcome::Unfinished;
    if (aliasGcd_ == 0 && lowestLost_ == sectorCount_) return Outcome::Genuine;
    const bool found = aliasGcd_ != 0 ? wrapSize() : dropSize();
    return found ? Outcome::Forged : Outcome::Unfinished;
  }

  std::uint64_t realSectors() const { return realSectors_; }
  std::uint64_t bytesMoved() const { return bytesMoved_; }
  std::size_t blocks() const { return blocks_.size(); }

private:
  Block block(std::uint64_t first) const {
    const auto sectors =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockSectors, sectorCount_ - first));
    return {first, sectors, Bytes(sectors * kSectorBytes)};
  }
  static Block sectorAt(std::uint64_t at) { return {at, 1, Bytes(kSectorBytes)}; }

  bool read(std::span<std::uint8_t> data, std::uint64_t first) {
    bytesMoved_ += data.size();
    return channel::ReadSector(holder_, data, static_cast<std::uint32_t>(first));
  }
  bool write(std::span<const std::uint8_t> data, std::uint64_t first) {
    bytesMoved_ += data.size();
    return channel::WriteSector(holder_, data, static_cast<std::uint32_t>(first));
  }

  // Room for what is needed only for a moment (a second read, a stamp, a read-back): one block's
  // worth, reused rather than zeroed afresh each time.
  std::span<std::uint8_t> scratch(std::size_t bytes) { return std::span(scratch_).first(bytes); }

  // Read twice and compared: a save that read wrong once would be written back over good data.
  bool save(Block& b) {
    const auto again = scratch(b.saved.size());
    return read(b.saved, b.first) && read(again, b.first) && std::ranges::equal(again, b.saved);
  }

  // In the scratch room, until it is next used.
  std::span<const std::uint8_t> stamped(std::uint64_t first, std::uint32_t sectors) {
    const auto stamp = scratch(sectors * kSectorBytes);
    for (std::uint32_t s = 0; s < sectors; ++s) {
      std::uint8_t* sector = &stamp[s * kSectorBytes];
      put64(sector, first + s);
      put64(sector + 8, nonce_);
      // Every stamp of a sector is the same: the sector fills by doubling what it holds.
      for (std::size_t filled = kStampBytes; filled < kSectorBytes; filled *= 2)
        std::copy_n(sector, filled, sector + filled);
    }
    return stamp;
  }

  // The sector a sector's stamp names, or nothing when it holds no whole stamp of this run.
  std::optional<std::uint64_t> stampOf(const std::uint8_t* sector) const {
    if (get64(sector + 8) != nonce_) return std::nullopt;
    for (std::size_t at = kStampBytes; at < kSectorBytes; at += kStampBytes) {
      if (!std::equal(sector, sector + kStampBytes, sector + at)) return std::nullopt;
    }
    return get64(sector);
  }

  Reading reading(const std::uint8_t* sector, std::uint64_t at) const {
    if (const auto named = stampOf(sector)) return *named == at ? Reading::Own : Reading::Alias;
    for (std::size_t group = 0; group < kSectorBytes; group += kStampBytes) {
      if (get64(sector + group + 8) == nonce_) return Reading::Damaged;
    }
    return Reading::Lost;
  }

  // Notes what sector `at` read back: an alias adds its distance, a multiple of the flash's size;
  // a lost write marks where writes stop holding.
  Reading judge(std::span<const std::uint8_t> sector, std::uint64_t at) {
    const Reading kind = reading(sector.data(), at);
    switch (kind) {
    case Reading::Own: break;
    case Reading::Alias:
      aliasGcd_ = std::gcd(aliasGcd_, distance(at, *stampOf(sector.data())));
      break;
    case Reading::Lost: lowestLost_ = std::min(lowestLost_, at); break;
    case Reading::Damaged: damaged_ = true; break;
    }
    return kind;
  }

  // Judges every sector of a block read back; the sectors before its first failing one held.
  void judgeBlock(const Block& b, std::span<const std::uint8_t> back) {
    std::uint64_t holdingEnd = b.first;
    for (std::uint32_t s = 0; s < b.sectors; ++s) {
      const std::span<const std::uint8_t> sector(&back[s * kSectorBytes], kSectorBytes);
      if (judge(sector, b.first + s) == Reading::Own && holdingEnd == b.first + s) ++holdingEnd;
    }
    if (holdingEnd != b.first) holdingEnds_.push_back(holdingEnd);
  }

  // One sector stamped and read back, what it held written back after: what it read back.
  std::optional<Reading> probe(std::uint64_t at) {
    Block b = sectorAt(at);
    if (!save(b)) return std::nullopt;
    const bool stampedWell = write(stamped(at, 1), at);
    const auto back = scratch(kSectorBytes);
    const bool readWell = stampedWell && read(back, at);
    if (!write(b.saved, at) || !readWell) return std::nullopt;
    return reading(back.data(), at);
  }

  // Lost writes: every sector below the flash's end holds, every one from it on does not. Halving
  // the gap between the highest holding sector and the lowest lost one finds the end exactly.
  bool dropSize() {
    std::uint64_t holds = 0;
    for (std::uint64_t end : holdingEnds_) {
      if (end <= lowestLost_) holds = std::max(holds, end);
    }
    std::uint64_t lost = lowestLost_;
    while (holds < lost) {
      if (bytesMoved_ + 5 * kSectorBytes > kByteBudget) return false;
      const std::uint64_t middle = holds + (lost - holds) / 2;
      const std::optional<Reading> back = probe(middle);
      if (back == Reading::Own) {
        holds = middle + 1;
      } else if (back == Reading::Lost) {
        lost = middle;
      } else {
        return false; // unreadable, or a read the reader damaged
      }
    }
    realSectors_ = lost;
    return true;
  }

  // Aliased writes: the flash's size divides every distance between two aliased sectors, so it is
  // their greatest common divisor with some factors taken out. Each prime factor is taken out as
  // long as the sector that far up still lands on sector 0.
  bool wrapSize() {
    std::uint64_t size = aliasGcd_;
    for (std::uint64_t prime : primeFactors(aliasGcd_)) {
      while (size % prime == 0) {
        const std::optional<bool> aliases = aliasesAt(size / prime);
        if (!aliases) return false;
        if (!*aliases) break;
        size /= prime;
      }
    }
    realSectors_ = size;
    return true;
  }

  // Whether sector `apart` lands on sector 0: stamped first, then sector 0, then read back.
  std::optional<bool> aliasesAt(std::uint64_t apart) {
    if (bytesMoved_ + 9 * kSectorBytes > kByteBudget) return std::nullopt;
    Block low = sectorAt(0);
    Block high = sectorAt(apart);
    if (!save(low) || !save(high)) return std::nullopt;
    const bool stampedWell = write(stamped(apart, 1), apart) && write(stamped(0, 1), 0);
    const auto back = scratch(kSectorBytes);
    const bool readWell = stampedWell && read(back, apart);
    const bool restored = write(high.saved, apart) && write(low.saved, 0);
    if (!readWell || !restored) return std::nullopt;
    const std::optional<std::uint64_t> named = stampOf(back.data());
    // Neither its own stamp nor sector 0's: no answer to trust.
    if (named != apart && named != std::optional<std::uint64_t>(0)) return std::nullopt;
    return named == std::optional<std::uint64_t>(0);
  }

  channel::ReaderHandleHolder& holder_;
  const std::uint64_t sectorCount_;
  const std::uint64_t nonce_;
  const std::uint64_t seed_;
  std::vector<Block> blocks_;
  Bytes scratch_ = Bytes(kBlockSectors * kSectorBytes);
  std::uint64_t aliasGcd_ = 0;
  std::uint64_t lowestLost_ = sectorCount_;
  std::vector<std::uint64_t> holdingEnds_; // per block read back, the end of its leading good run
  bool damaged_ = false;
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
    context.showFailure(
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
