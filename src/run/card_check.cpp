// The card check: the CD-ROM area size the card information sector records, in MiB, for the
// result line of a LUN that is shown only through it. Never fails: anything unreadable gives 0.
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/card_information_sector.h"
#include "run/card_parameters.h"
#include "run/steps.h"

namespace tarvix::run {
namespace {

constexpr std::uint64_t kSectorsPerMiB = 1048576 / kSectorBytes;

} // namespace

std::uint64_t cardCheckMiB(const StepContext& context, int driveIndex) {
  platform::Platform& platform = context.platform;
  channel::ReaderHandleHolder m_hUSBDeviceHandle(platform.readers, platform.trace);
  context.openReader(m_hUSBDeviceHandle, driveIndex);
  // One capacity query, no retry; a sector larger than the buffer reads nothing.
  SectorImage sector{};
  channel::ReadLastCardBlock(m_hUSBDeviceHandle, sector);
  m_hUSBDeviceHandle.close();
  return recordedAreaSizes(sector).cdromSectors / kSectorsPerMiB;
}

} // namespace tarvix::run
