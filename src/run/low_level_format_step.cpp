#include "channel/command_blocks.h"
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/lun_capacity.h"
#include "run/reader_session.h"
#include "run/steps.h"
#include "station/models.h"

#include <algorithm>
#include <string>
#include <vector>

namespace tarvix::run {
namespace {

constexpr std::string_view kProgressLineSuffix = "KB\r\n";

constexpr std::uint32_t kChunkBytes = channel::kMaxTransferBytes;
constexpr std::uint32_t kChunkSectors = channel::kSectorsPerTransfer;
constexpr std::uint64_t kTenMegabyteSectors = 0x5000;
// Progress runs from p = 15k - 5 and climbs by at most 15 over one LUN's extent.
constexpr std::uint64_t kProgressSpanTimesChunk = 15 * kChunkSectors;

// Sectors to write and read back from sector 0, by the extent row.
std::uint64_t extentSectors(int row, std::uint64_t sectorCount) {
  switch (row) {
  case 1: return sectorCount / 100;
  case 2: return sectorCount / 20;
  case 3: return sectorCount;
  default: return kTenMegabyteSectors; // row 0, and any row the box never offers
  }
}

std::string progressLine(std::uint64_t sector) {
  return std::to_string(sector / 2) + std::string(kProgressLineSuffix);
}

} // namespace

bool lowLevelFormatStep(const StepContext& context, int driveIndex, station::PortRecord& port,
                        int lun) {
  if (!context.options.lowLevelFormat) return true;

  const StepDrive record = context.drive(driveIndex);
  const int slot = record.slot;
  platform::Platform& platform = context.platform;
  const int portNumber = port.portNumber;

  const std::vector<std::uint8_t> pattern(kChunkBytes, 0);
  std::vector<std::uint8_t> readBack(kChunkBytes);

  ReaderSession m_hUSBDeviceHandle(context, driveIndex);

  // Models whose unit-form capacity is not the one to format by are sized by the card.
  const station::ModelTraits* model = station::modelTraits(context.options.icType);
  const bool cardSized = model != nullptr && model->cardSized;
  const std::uint32_t sectorCount =
      sectorCountWithRetries(m_hUSBDeviceHandle, platform.clock,
                             cardSized ? CapacityForm::Card : CapacityForm::Unit, record.lun);

  bool passed = sectorCount != 0;
  if (passed) {
    // Requests stop at the LUN's own last sector: a card-sized count includes the information
    // sector and the areas, and a controller refuses a block past its LUN's end.
    std::uint64_t lunEnd = sectorCount;
    if (cardSized) {
      std::uint32_t unitSectors = 0;
      std::uint32_t unitSectorSize = 0;
      if (channel::GetCapacity(m_hUSBDeviceHandle, unitSectors, unitSectorSize,
                               static_cast<std::uint16_t>(record.lun - 1)))
        lunEnd = std::min<std::uint64_t>(lunEnd, unitSectors);
    }
    const std::uint64_t limit =
        std::min(extentSectors(context.options.llfSelect, sectorCount), lunEnd);
    const std::uint64_t progressBase = 15 * static_cast<std::uint64_t>(lun) - 5;
    // 64-bit: the chunk counter times 1920 overflows 32 bits on cards above 2 GiB sectors.
    std::uint64_t chunk = 0;
    for (std::uint64_t sector = 0; passed && sector < limit; sector += kChunkSectors, ++chunk) {
      context.display->setProgress(
          portNumber,
          static_cast<int>(kProgressSpanTimesChunk * chunk / sectorCount + progressBase));
      const std::size_t bytes =
          static_cast<std::size_t>(std::min<std::uint64_t>(kChunkSectors, lunEnd - sector)) *
          channel::kSectorSize;
      const auto block = static_cast<std::uint32_t>(sector);
      passed = channel::WriteSector(m_hUSBDeviceHandle, std::span(pattern).first(bytes), block) &&
               channel::ReadSector(m_hUSBDeviceHandle, std::span(readBack).first(bytes), block) &&
               std::equal(readBack.begin(), readBack.begin() + static_cast<long>(bytes),
                          pattern.begin());
      if (passed) context.display->showLine(slot, progressLine(sector));
    }
  }

  if (passed) {
    context.showText(slot, text::kLowLevelFormatPassed);
  } else {
    context.showFailure(slot, text::kLowLevelFormatFailed);
  }
  return passed;
}

} // namespace tarvix::run
