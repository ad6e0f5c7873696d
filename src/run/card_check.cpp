// The card check: the CD-ROM area size the card information sector records, in MiB, for the
// result line of a LUN that is shown only through it. Never fails: anything unreadable gives 0.
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/card_information_sector.h"
#include "run/card_parameters.h"
#include "run/reader_session.h"
#include "run/steps.h"

namespace tarvix::run {
namespace {

constexpr std::uint64_t kSectorsPerMiB = 1048576 / kSectorBytes;

} // namespace

std::uint64_t cardCheckMiB(const StepContext& context, int driveIndex) {
  ReaderSession m_hUSBDeviceHandle(context, driveIndex);
  // One capacity query, no retry; a sector larger than the buffer reads nothing. A sector not read
  // stays zero: no CD-ROM area.
  SectorImage sector{};
  (void)channel::ReadLastCardBlock(m_hUSBDeviceHandle, sector);
  return recordedCdromSectors(sector) / kSectorsPerMiB;
}

} // namespace tarvix::run
