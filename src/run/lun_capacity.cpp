#include "run/lun_capacity.h"

#include "channel/vendor_commands.h"

namespace tarvix::run {

std::uint32_t sectorCountWithRetries(channel::ReaderHandleHolder& m_hUSBDeviceHandle,
                                     platform::Clock& clock, CapacityForm form, int lun) {
  for (int attempt = 1; attempt <= kCapacityAttempts; ++attempt) {
    std::uint32_t sectorCount = 0;
    std::uint32_t sectorSize = 0;
    const bool answered = form == CapacityForm::Card
                              ? channel::GetCapacity(m_hUSBDeviceHandle, sectorCount, sectorSize)
                              : channel::GetCapacity(m_hUSBDeviceHandle, sectorCount, sectorSize,
                                                     static_cast<std::uint16_t>(lun - 1));
    if (answered) return sectorCount;
    if (attempt < kCapacityAttempts) clock.sleepMs(kCapacityRetryMs);
  }
  return 0;
}

} // namespace tarvix::run
