#include "run/volume_format_step.h"
#include "run/reader_session.h"

#include "run/lun_capacity.h"

#include "channel/reader_handle.h"
#include "fat/fat_format.h"

namespace tarvix::run {
namespace {

constexpr std::string_view kResetLabel = "Public Disk";
constexpr std::string_view kLayoutDropped = "DeviceIoControl Success 1!";

} // namespace

bool formatVolumeStep(const StepContext& context, int driveIndex) {
  const RunOptions& options = context.options;
  const bool format = options.format;
  const bool reset = options.resetToDefault;
  if (!format && !reset && !options.binaryArea && !options.cdromArea) return true;
  // A reset, or a format forced only by a written area, gets the factory label.
  const std::string label = !reset && format ? options.diskLabel : std::string(kResetLabel);

  const StepDrive record = context.drive(driveIndex);
  const int slot = record.slot;
  const std::string name = station::driveName(static_cast<char>('A' + driveIndex));
  platform::Platform& platform = context.platform;

  ReaderSession m_hUSBDeviceHandle(context, driveIndex);
  auto volume = m_hUSBDeviceHandle.opened() ? platform.volumes.open(name) : nullptr;
  // The volume is opened by name too: it must still be the reader the handle reached.
  if (!context.readerStillBound(driveIndex)) volume.reset();
  if (volume) {
    // The card is used without partitions from its first sector where the system allows it.
    if (volume->dropPartitionLayout()) platform.trace.line(kLayoutDropped);
    // The system reads the layout again only while none of the disk's partitions is open, and
    // this volume may be one; what the re-read leaves (the whole disk) is then opened afresh.
    volume.reset();
    platform.volumes.rereadPartitionLayout(name);
    volume = platform.volumes.open(name);
    if (!context.readerStillBound(driveIndex)) volume.reset();
  }

  const std::uint32_t totalSectors =
      sectorCountWithRetries(m_hUSBDeviceHandle, platform.clock, CapacityForm::Unit, record.lun);

  bool formatted = false;
  if (volume && totalSectors != 0) {
    fat::CFAT32Format formatter(platform.clock, platform.trace);
    formatter.setLabel(label);
    formatted = formatter.format(*volume, totalSectors);
  }
  volume.reset();
  if (formatted) {
    context.showText(slot, text::kFormatPassed);
  } else {
    context.showFailure(slot, text::kFormatFailed);
  }
  return formatted;
}

} // namespace tarvix::run
