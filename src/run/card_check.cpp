// The card check: the CD-ROM area size the card information sector records, in MiB, for the
// result line of a LUN that is shown only through it. Never fails: anything unreadable gives 0.
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/card_parameters.h"
#include "run/steps.h"

namespace tarvix::run {
namespace {

constexpr std::size_t kCdromSectorsAt = 12; // big-endian sector count of the CD-ROM area
constexpr std::uint64_t kSectorsPerMiB = 1048576 / kSectorBytes;

} // namespace

std::uint64_t cardCheckMiB(const StepContext& context, int driveIndex) {
  platform::Platform& platform = context.platform;
  channel::ReaderHandleHolder m_hUSBDeviceHandle(platform.readers, platform.trace);
  context.openReader(m_hUSBDeviceHandle, driveIndex);
  // One capacity query, no retry; a sector larger than the buffer reads nothing.
  SectorImage sector{};
  channel::ReadLastCardBlock(m_hUSBDeviceHandle, sector);
  const std::uint64_t count = static_cast<std::uint64_t>(sector[kCdromSectorsAt]) << 24 |
                              static_cast<std::uint64_t>(sector[kCdromSectorsAt + 1]) << 16 |
                              static_cast<std::uint64_t>(sector[kCdromSectorsAt + 2]) << 8 |
                              sector[kCdromSectorsAt + 3];
  m_hUSBDeviceHandle.close();
  return count / kSectorsPerMiB;
}

} // namespace tarvix::run
