// The two steps that work on the card's area layout: the partition sizes (hidden binary area and
// CD-ROM area, then a re-initialisation) and the controller reset to factory settings.
#include "channel/command_blocks.h"
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/lun_capacity.h"
#include "run/reader_session.h"
#include "run/steps.h"

#include <filesystem>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace tarvix::run {
namespace {

constexpr std::string_view kBinAreaErrorBox = "SetBinAreaSize\r\n Error!\r\n";
constexpr std::string_view kBinAreaFailed = "SetBinAreaSize\r\n fail\r\n";
constexpr std::string_view kBinAreaSet = "SetBinAreaSize\r\n Success\r\n";
constexpr std::string_view kCdromAreaErrorBox = "SetCDROMSize \r\nError!\r\n";
constexpr std::string_view kCdromAreaFailed = "SetCDROMSize\r\n fail\r\n";
constexpr std::string_view kCdromAreaSet = "SetCDROMSize\r\n Success\r\n";
constexpr std::string_view kFactoryDefaultFailed = "FactoryTotal\r\nDefault fail";
constexpr std::string_view kReInitialiseFailed = "ReInitialCard\r\n fail";

// The controller needs a moment after re-laying the card before its LUNs answer again.
constexpr std::uint32_t kReInitialisePauseMs = 2000;

constexpr int kResetProgressCleared = 10;
constexpr int kResetProgressFactory = 120;
constexpr int kResetProgressDone = 180;

constexpr std::uint64_t kSector = channel::kSectorSize;
// The card's last sector holds the card information, outside the public disk and the areas.
constexpr std::uint64_t kInformationSectors = 1;

// The hidden area holds the image and its header sector: whole sectors, rounded up.
std::optional<std::uint32_t> binAreaSectors(std::uint64_t bytes) {
  const std::uint64_t sectors = (bytes + kSector - 1) / kSector;
  if (sectors > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(sectors);
}

// The CD-ROM area always gets one sector beyond the image's whole sectors, as the controller's
// own tools size it.
std::optional<std::uint32_t> cdromAreaSectors(std::uint64_t bytes) {
  const std::uint64_t sectors = bytes / kSector + 1;
  if (sectors > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(sectors);
}

// The ISO file's length as it is now; the loaded image's length when the file no longer opens,
// since that image is what the CD-ROM area step will write.
std::uint64_t isoLength(const StepContext& context) {
  std::error_code error;
  const std::filesystem::path& path = context.options.isoPath;
  const auto length = std::filesystem::file_size(path, error);
  return error ? context.images.isoSize : static_cast<std::uint64_t>(length);
}

// Opens the reader, sends one area size, and reports a refusal with its box and trace line; the
// port's line keeps the box's text, so the port names what failed after the box is closed.
template <typename Command>
bool setAreaSize(const StepContext& context, int driveIndex, std::optional<std::uint32_t> sectors,
                 Command command, std::string_view errorBox, std::string_view failed,
                 std::string_view succeeded) {
  platform::Platform& platform = context.platform;
  ReaderSession m_hUSBDeviceHandle(context, driveIndex);
  // A size the controller cannot be told is refused like a size it turned down.
  if (!sectors || !command(m_hUSBDeviceHandle, *sectors)) {
    context.showFailure(context.drive(driveIndex).slot, std::string(errorBox));
    context.display->messageBox(std::string(errorBox));
    platform.trace.line(failed);
    return false;
  }
  platform.trace.line(succeeded);
  return true;
}

// Whether the card took the sizes just set: the public disk the reader reports after re-laying
// leaves room on the card for both areas and the card information sector. Only the two
// capacities are read, not how the controller places its areas, which is its own business. The
// card may answer late after being re-laid, so the capacities are asked with retries.
bool areasMadeRoom(channel::ReaderHandleHolder& m_hUSBDeviceHandle, platform::Clock& clock, int lun,
                   std::uint32_t binSectors, std::uint32_t cdromSectors) {
  const std::uint64_t cardSectors =
      sectorCountWithRetries(m_hUSBDeviceHandle, clock, CapacityForm::Card, lun);
  const std::uint64_t publicSectors =
      sectorCountWithRetries(m_hUSBDeviceHandle, clock, CapacityForm::Unit, lun);
  return publicSectors != 0 &&
         publicSectors + binSectors + cdromSectors + kInformationSectors <= cardSectors;
}

} // namespace

bool partitionSizeStep(const StepContext& context, int driveIndex) {
  const bool binary = context.options.binaryArea;
  const bool cdrom = context.options.cdromArea;
  if (!binary && !cdrom) return true;

  const StepDrive record = context.drive(driveIndex);
  const auto binSectors =
      binary ? binAreaSectors(context.images.binAreaSize) : std::optional<std::uint32_t>();
  const auto cdromSectors =
      cdrom ? cdromAreaSectors(isoLength(context)) : std::optional<std::uint32_t>();
  if (binary && !setAreaSize(context, driveIndex, binSectors, channel::SetBinAreaSize,
                             kBinAreaErrorBox, kBinAreaFailed, kBinAreaSet))
    return false;
  if (cdrom && !setAreaSize(context, driveIndex, cdromSectors, channel::SetCDRomSize,
                            kCdromAreaErrorBox, kCdromAreaFailed, kCdromAreaSet))
    return false;

  // The new sizes take effect only when the controller re-lays the card. Its answer is not
  // believed either way, as it may drop off the bus while it re-lays; the layout it then has is.
  platform::Platform& platform = context.platform;
  ReaderSession m_hUSBDeviceHandle(context, driveIndex);
  (void)channel::ReInitialCard(m_hUSBDeviceHandle);
  platform.clock.sleepMs(kReInitialisePauseMs);
  const bool laidOut = areasMadeRoom(m_hUSBDeviceHandle, platform.clock, record.lun,
                                     binSectors.value_or(0), cdromSectors.value_or(0));
  if (!laidOut) {
    platform.trace.line(kReInitialiseFailed);
    context.showFailure(record.slot, text::kReInitialCardFailed);
  }
  return laidOut;
}

bool controllerResetStep(const StepContext& context, int driveIndex, station::PortRecord& port) {
  platform::Platform& platform = context.platform;
  const int portNumber = port.portNumber;
  ReaderSession m_hUSBDeviceHandle(context, driveIndex);

  // Clear the card information block. Best effort: the factory reset below is what decides. A
  // card that reports no sectors has no last sector, and a sector size beyond one request is not
  // believed.
  std::uint32_t sectorCount = 0;
  std::uint32_t sectorSize = 0;
  if (channel::GetCapacity(m_hUSBDeviceHandle, sectorCount, sectorSize) && sectorCount != 0 &&
      sectorSize != 0 && sectorSize <= channel::kMaxTransferBytes) {
    const std::vector<std::uint8_t> zeros(sectorSize, 0);
    (void)channel::WriteCard(m_hUSBDeviceHandle, zeros, sectorCount - 1);
  }
  context.display->setProgress(portNumber, kResetProgressCleared);

  if (!channel::FactoryTotalDefault(m_hUSBDeviceHandle)) {
    platform.trace.line(kFactoryDefaultFailed);
    return false;
  }
  context.display->setProgress(portNumber, kResetProgressFactory);

  if (!channel::ReInitialCard(m_hUSBDeviceHandle)) {
    platform.trace.line(kReInitialiseFailed);
    return false;
  }
  context.display->setProgress(portNumber, kResetProgressDone);
  return true;
}

} // namespace tarvix::run
