// The reader controller's commands over an open holder. Each sends its request(s) on the calling
// thread, returns true on success, and on failure writes "<name> Error Code ='<code>'" to the
// holder's trace sink. Buffers are the caller's; a command only touches them while it runs.
// Reentrant: any number of threads may run commands, each on its own holder. A caller that goes
// on whatever the answer says so where it drops the result.
#pragma once

#include "channel/reader_handle.h"

#include <cstdint>
#include <span>

namespace tarvix::channel {

[[nodiscard]] bool ReInitialCard(ReaderHandleHolder& m_hUSBDeviceHandle);
[[nodiscard]] bool FactoryTotalDefault(ReaderHandleHolder& m_hUSBDeviceHandle);
[[nodiscard]] bool SetBinAreaSize(ReaderHandleHolder& m_hUSBDeviceHandle, std::uint32_t sectors);
[[nodiscard]] bool SetCDRomSize(ReaderHandleHolder& m_hUSBDeviceHandle, std::uint32_t sectors);

// Whole-card transfers of any length, split into 65,536-byte requests at start sector + 128 * i.
// An empty buffer sends nothing and fails. The first failing request ends the command; chunks
// before it stay written (WriteCard) or copied (ReadCard).
[[nodiscard]] bool WriteCard(ReaderHandleHolder& m_hUSBDeviceHandle,
                             std::span<const std::uint8_t> source, std::uint32_t startSector);
[[nodiscard]] bool ReadCard(ReaderHandleHolder& m_hUSBDeviceHandle,
                            std::span<std::uint8_t> destination, std::uint32_t startSector);

// Hidden binary and CD-ROM areas: one request of at most 65,536 bytes; a longer buffer is refused
// without sending anything.
[[nodiscard]] bool WriteBin(ReaderHandleHolder& m_hUSBDeviceHandle,
                            std::span<const std::uint8_t> source, std::uint32_t startSector);
[[nodiscard]] bool ReadBin(ReaderHandleHolder& m_hUSBDeviceHandle,
                           std::span<std::uint8_t> destination, std::uint32_t startSector);
[[nodiscard]] bool WriteAutorun(ReaderHandleHolder& m_hUSBDeviceHandle,
                                std::span<const std::uint8_t> source, std::uint32_t startSector);
[[nodiscard]] bool ReadAutoRun(ReaderHandleHolder& m_hUSBDeviceHandle,
                               std::span<std::uint8_t> destination, std::uint32_t startSector);

// Unit form: the capacity of logical unit `unitNumber` (LUN number minus 1; low 8 bits sent).
// Both outputs are left untouched on failure.
[[nodiscard]] bool GetCapacity(ReaderHandleHolder& m_hUSBDeviceHandle, std::uint32_t& sectorCount,
                               std::uint32_t& sectorSize, unsigned unitNumber);
// Card form: the whole card, whose last sector holds the card information block.
[[nodiscard]] bool GetCapacity(ReaderHandleHolder& m_hUSBDeviceHandle, std::uint32_t& sectorCount,
                               std::uint32_t& sectorSize);

// GetVIDPID's sub-codes: the reader's USB identity, the card type, the LUN configuration.
inline constexpr std::uint8_t kQueryIdentity = 0x14;
inline constexpr std::uint8_t kQueryCardType = 0x16;
inline constexpr std::uint8_t kQueryConfiguration = 0x3E;

// Fills `destination` with the 16 reply bytes followed by zeros. Sub-codes 14h and 16h zero the
// destination before sending, so a refused query reads as zeros; 3Eh leaves it as it was.
[[nodiscard]] bool GetVIDPID(ReaderHandleHolder& m_hUSBDeviceHandle, std::uint8_t subCode,
                             std::span<std::uint8_t, 512> destination);

// At most 255 bytes; a longer buffer is refused without sending anything.
[[nodiscard]] bool ReadEEPROM(ReaderHandleHolder& m_hUSBDeviceHandle,
                              std::span<std::uint8_t> destination);
[[nodiscard]] bool WriteEEPROM(ReaderHandleHolder& m_hUSBDeviceHandle,
                               std::span<const std::uint8_t> source);

// READ(10) / WRITE(10) on the opened logical unit: one request of the first min(size, 65,536)
// bytes; callers loop for more. An empty buffer sends nothing and fails. ReadSector reads into
// `destination` itself, zeroed before sending, and leaves those bytes zero when the read fails.
[[nodiscard]] bool ReadSector(ReaderHandleHolder& m_hUSBDeviceHandle,
                              std::span<std::uint8_t> destination, std::uint32_t logicalBlock);
[[nodiscard]] bool WriteSector(ReaderHandleHolder& m_hUSBDeviceHandle,
                               std::span<const std::uint8_t> source, std::uint32_t logicalBlock);

// Reads the card's last sector (card-form capacity, then ReadCard of one sector) into the start of
// `destination`, which the caller has zeroed. A reply whose sector is larger than `destination`, or
// a card of no sectors, reads nothing. True when the sector was read.
[[nodiscard]] bool ReadLastCardBlock(ReaderHandleHolder& m_hUSBDeviceHandle,
                                     std::span<std::uint8_t> destination);

} // namespace tarvix::channel
