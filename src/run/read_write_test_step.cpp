#include "channel/command_blocks.h"
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/lun_capacity.h"
#include "run/reader_session.h"
#include "run/steps.h"

#include <algorithm>
#include <vector>

namespace tarvix::run {
namespace {

constexpr std::uint32_t kRunBytesMax = channel::kMaxTransferBytes;
constexpr std::uint64_t kRunSectorsMax = channel::kSectorsPerTransfer;
constexpr std::uint32_t kDrawModulus = 10000;
constexpr std::uint32_t kStartSpread = 65537;

// The first value a C-library style generator gives after being seeded with `seed` (0 to 32767).
// Kept local so that twenty-one workers never share one generator's state.
std::uint32_t firstRandom(std::uint64_t seed) {
  const auto state = static_cast<std::uint32_t>(seed) * 214013U + 2531011U;
  return (state >> 16) & 0x7FFFU;
}

std::uint32_t drawFromTick(platform::Clock& clock) {
  return firstRandom(clock.tickMs()) % kDrawModulus;
}

// The walk keeps off the LUN's first thousandth and its last sector.
std::uint64_t keepInWalk(std::uint64_t sector, std::uint64_t first, std::uint64_t sectorCount) {
  return sector + kRunSectorsMax >= sectorCount || sector < first ? first : sector;
}

// Each byte is drawn from a generator seeded afresh with the tick, so bytes written within one
// tick are equal; the pattern changes from tick to tick. The tick is read once per stretch of
// bytes that takes far less than a millisecond to fill (a 4 KiB stretch, well under a
// microsecond): reading it for every byte, or every 256, cost more than the transfers.
void fillPattern(std::span<std::uint8_t> run, platform::Clock& clock) {
  constexpr std::size_t kStretch = 4096;
  std::uint64_t tick = clock.tickMs();
  auto value = static_cast<std::uint8_t>(firstRandom(tick) % kDrawModulus);
  for (std::size_t at = 0; at < run.size(); at += kStretch) {
    const std::uint64_t now = clock.tickMs();
    if (now != tick) {
      tick = now;
      value = static_cast<std::uint8_t>(firstRandom(tick) % kDrawModulus);
    }
    std::fill_n(run.begin() + static_cast<std::ptrdiff_t>(at), std::min(kStretch, run.size() - at),
                value);
  }
}

} // namespace

bool readWriteTestStep(const StepContext& context, int driveIndex, station::PortRecord& port,
                       int lun) {
  if (!context.options.readWriteTest) return true;

  const StepDrive record = context.drive(driveIndex);
  const int slot = record.slot;
  platform::Platform& platform = context.platform;
  platform::Clock& clock = platform.clock;
  const int portNumber = port.portNumber;
  const std::int64_t rounds = context.options.rwTestCount;

  std::vector<std::uint8_t> saved(kRunBytesMax);
  std::vector<std::uint8_t> pattern(kRunBytesMax);
  std::vector<std::uint8_t> readBack(kRunBytesMax);

  ReaderSession m_hUSBDeviceHandle(context, driveIndex);
  const std::uint64_t sectorCount =
      sectorCountWithRetries(m_hUSBDeviceHandle, clock, CapacityForm::Unit, record.lun);

  bool passed = sectorCount != 0;
  if (passed) {
    const std::uint64_t first = sectorCount / 1000;
    std::uint64_t sector = keepInWalk(
        std::uint64_t{drawFromTick(clock)} * kStartSpread % sectorCount, first, sectorCount);
    for (std::int64_t round = 0; passed && round < rounds; ++round) {
      context.display->setProgress(portNumber, static_cast<int>(5 * round / rounds + 5 * lun + 95));
      // A LUN too small for a whole run past its first thousandth gets runs cut at its end.
      const std::uint64_t sectors =
          std::min<std::uint64_t>(drawFromTick(clock) % kRunSectorsMax + 1, sectorCount - sector);
      const auto bytes = static_cast<std::size_t>(sectors * channel::kSectorSize);
      const auto block = static_cast<std::uint32_t>(sector);
      const auto savedRun = std::span(saved).first(bytes);
      const auto patternRun = std::span(pattern).first(bytes);
      const auto readBackRun = std::span(readBack).first(bytes);

      // The run is saved twice and the copies compared: a save that read wrong once would
      // otherwise be written back over good data.
      if (!channel::ReadSector(m_hUSBDeviceHandle, savedRun, block) ||
          !channel::ReadSector(m_hUSBDeviceHandle, readBackRun, block) ||
          !std::ranges::equal(savedRun, readBackRun)) {
        passed = false;
        break;
      }
      fillPattern(patternRun, clock);
      // A pattern equal to what the card holds would let a write that never happened pass.
      if (std::ranges::equal(patternRun, savedRun))
        for (std::uint8_t& byte : patternRun)
          byte = static_cast<std::uint8_t>(~byte);
      passed = channel::WriteSector(m_hUSBDeviceHandle, patternRun, block) &&
               channel::ReadSector(m_hUSBDeviceHandle, readBackRun, block) &&
               std::ranges::equal(patternRun, readBackRun);
      // The saved sectors go back whatever happened to the pattern, so a failing card keeps the
      // data it had wherever it still can; only a restore that reads back as saved passes.
      const bool restored = channel::WriteSector(m_hUSBDeviceHandle, savedRun, block) &&
                            channel::ReadSector(m_hUSBDeviceHandle, readBackRun, block) &&
                            std::ranges::equal(savedRun, readBackRun);
      passed = passed && restored;
      sector = keepInWalk(sector + sectors, first, sectorCount);
    }
  }

  if (passed) {
    context.showText(slot, text::kReadWritePassed);
  } else {
    context.showFailure(slot, text::kReadWriteFailed);
  }
  return passed;
}

} // namespace tarvix::run
