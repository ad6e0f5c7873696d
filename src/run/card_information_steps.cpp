// The card information block into the card's last sector, and the CD-ROM and hidden binary images
// into their areas; each written, read back and compared. Run on the port's worker thread.
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/card_information_sector.h"
#include "run/card_parameters.h"
#include "run/reader_session.h"
#include "run/steps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <vector>

namespace tarvix::run {
namespace {

constexpr const char* kKilobytesLine = "%lldKB\r\n";

constexpr std::size_t kChunkBytes = 65536;
constexpr std::uint32_t kChunkSectors = kChunkBytes / kSectorBytes;
constexpr double kProgressSpan = 15.0;

bool validSlot(int slot) { return slot >= 1 && slot <= station::kSlotCount; }

// The last-sector transfer length: the reported sector size, but never more than the 512-byte
// images hold, and nothing on a card without sectors (whose last sector would wrap around).
std::size_t lastSectorBytes(std::uint32_t sectorCount, std::uint32_t sectorSize) {
  return sectorCount == 0 ? 0 : std::min<std::size_t>(sectorSize, kSectorBytes);
}

// What distinguishes the two image areas.
struct ImageArea {
  bool RunOptions::*option;
  std::uint32_t firstSector;
  bool (*write)(channel::ReaderHandleHolder&, std::span<const std::uint8_t>, std::uint32_t);
  bool (*read)(channel::ReaderHandleHolder&, std::span<std::uint8_t>, std::uint32_t);
  text::TextId passedText;
  text::TextId failedText;
  int progressBase;
  bool wholeSectors; // a partial last chunk goes out as whole sectors
};

constexpr ImageArea kCdromArea{&RunOptions::cdromArea,
                               0,
                               channel::WriteAutorun,
                               channel::ReadAutoRun,
                               text::kIsoPassed,
                               text::kIsoFailed,
                               130,
                               false};
constexpr ImageArea kBinaryArea{&RunOptions::binaryArea,
                                1,
                                channel::WriteBin,
                                channel::ReadBin,
                                text::kBinaryPassed,
                                text::kBinaryFailed,
                                160,
                                true};

// The request length of a chunk carrying `imageBytes` of the image. The controller moves whole
// sectors of a hidden area, so a partial last chunk goes out rounded up to a sector with zeros
// behind the image; the CD-ROM area takes the bytes as they are. Rounding up, never adding a
// sector to an exact one, keeps the last request inside an area one sector larger than the image.
std::size_t requestBytes(const ImageArea& area, std::size_t imageBytes) {
  if (!area.wholeSectors) return imageBytes;
  return (imageBytes + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
}

void showKilobytes(const StepContext& context, int slot, long long kilobytes) {
  char line[32];
  std::snprintf(line, sizeof line, kKilobytesLine, kilobytes);
  context.display->showLine(slot, line);
}

bool writeImageArea(const StepContext& context, int driveIndex, station::PortRecord& port,
                    const ImageArea& area, const std::vector<std::uint8_t>& image,
                    std::uint32_t imageSize, int slot) {
  if (!(context.options.*area.option)) return true;
  if (!validSlot(slot)) return false;
  const int portNumber = port.portNumber;

  std::vector<std::uint8_t> outgoing(kChunkBytes, 0);
  std::vector<std::uint8_t> readBack(kChunkBytes, 0);
  ReaderSession m_hUSBDeviceHandle(context, driveIndex);

  // A size the loaded image does not back would read past its buffer.
  bool passed = imageSize <= image.size();
  const std::size_t chunks = passed ? (imageSize + kChunkBytes - 1) / kChunkBytes : 0;
  std::uint32_t sector = area.firstSector;
  for (std::size_t i = 0; passed && i < chunks; ++i) {
    const std::size_t offset = i * kChunkBytes;
    const std::size_t imageBytes = std::min(kChunkBytes, imageSize - offset);
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), imageBytes, outgoing.begin());
    const std::size_t n = requestBytes(area, imageBytes);
    const auto out = std::span<const std::uint8_t>(outgoing).first(n);
    const auto back = std::span<std::uint8_t>(readBack).first(n);
    passed = area.write(m_hUSBDeviceHandle, out, sector) &&
             area.read(m_hUSBDeviceHandle, back, sector) && std::ranges::equal(out, back);
    if (!passed) break;
    showKilobytes(context, slot, 64LL * static_cast<long long>(i + 1));
    std::fill(outgoing.begin(), outgoing.end(), std::uint8_t{0});
    std::fill(readBack.begin(), readBack.end(), std::uint8_t{0});
    sector += kChunkSectors;
    context.display->setProgress(
        portNumber,
        static_cast<int>(kProgressSpan / static_cast<double>(chunks) * static_cast<double>(i)) +
            area.progressBase);
  }

  context.showText(slot, passed ? area.passedText : area.failedText);
  return passed;
}

} // namespace

bool cardInformationStep(const StepContext& context, int driveIndex) {
  if (!context.options.writeParameter) return true;
  const StepDrive record = context.drive(driveIndex);
  const int slot = record.slot;
  if (!validSlot(slot)) return false; // the reader has gone; there is no line of its own to use
  station::PortRecord& port = context.state.port(station::portOfSlot(slot));
  if (port.cardInfoWritten) {
    context.showText(slot, text::kInformationPassed);
    return true;
  }

  ReaderSession m_hUSBDeviceHandle(context, driveIndex);

  // Each transfer asks for the capacity again, as the controller may re-read it after a write.
  // Later results are judged only through the comparison: a failed command leaves the read-back
  // different from the block.
  std::uint32_t sectorCount = 0;
  std::uint32_t sectorSize = 0;
  const bool sized = channel::GetCapacity(m_hUSBDeviceHandle, sectorCount, sectorSize);
  // The sector's first half holds the area sizes the controller lays the card out by; zeroing them
  // would move the public disk at the next plug-in, so they are read first and carried over, and
  // without them nothing is written.
  SectorImage cleared{};
  const std::size_t bytes = lastSectorBytes(sectorCount, sectorSize);
  if (!sized || bytes == 0 ||
      !channel::ReadCard(m_hUSBDeviceHandle, std::span(cleared).first(bytes), sectorCount - 1)) {
    context.showText(slot, text::kInformationFailed);
    return false;
  }
  std::fill(cleared.begin() + kInformationBlockAt, cleared.end(), std::uint8_t{0});
  (void)channel::WriteCard(m_hUSBDeviceHandle, std::span(cleared).first(bytes), sectorCount - 1);

  std::string serial;
  std::optional<SectorImage> block = buildCardInformationSector(context, serial);
  if (!block) {
    context.showText(slot, text::kInformationFailed);
    return false;
  }
  std::copy_n(cleared.begin(), kInformationBlockAt, block->begin());
  (void)channel::GetCapacity(m_hUSBDeviceHandle, sectorCount, sectorSize);
  (void)channel::WriteCard(m_hUSBDeviceHandle,
                           std::span(*block).first(lastSectorBytes(sectorCount, sectorSize)),
                           sectorCount - 1);

  SectorImage readBack{};
  (void)channel::GetCapacity(m_hUSBDeviceHandle, sectorCount, sectorSize);
  (void)channel::ReadCard(m_hUSBDeviceHandle,
                          std::span(readBack).first(lastSectorBytes(sectorCount, sectorSize)),
                          sectorCount - 1);

  if (readBack != *block) {
    context.showText(slot, text::kInformationFailed);
    return false;
  }
  port.cardInfoWritten = true;
  noteSerialWritten(context, serial);
  context.showText(slot, text::kInformationPassed);
  return true;
}

bool cdromAreaStep(const StepContext& context, int driveIndex, station::PortRecord& port) {
  if (!(context.options.*kCdromArea.option)) return true;
  // The texts go to the CD-ROM LUN's line; a reader without one uses LUN 1's.
  int lunOffset = 0;
  for (int j = 0; j < station::kLunsPerPort; ++j) {
    if (port.lunKind[j] == station::LunKind::SizeOnly) {
      lunOffset = j;
      break;
    }
  }
  const int slot = context.drive(driveIndex).slot;
  return writeImageArea(context, driveIndex, port, kCdromArea, context.images.iso,
                        context.images.isoSize, validSlot(slot) ? slot + lunOffset : slot);
}

bool binaryAreaStep(const StepContext& context, int driveIndex, station::PortRecord& port) {
  return writeImageArea(context, driveIndex, port, kBinaryArea, context.images.binary,
                        context.images.binSize, context.drive(driveIndex).slot);
}

} // namespace tarvix::run
