// Edits of a master boot record: the first 512 bytes of a disk. Pure functions on the bytes.
#pragma once

#include <cstdint>
#include <span>

namespace tarvix::platform::files {

inline constexpr std::size_t kMbrBytes = 512;

// True when the sector ends in the 0x55AA boot signature.
bool hasBootSignature(std::span<const std::uint8_t> mbr);
// The number (1-4) of the primary entry that starts at `startLba`; 0 when none does or there is
// no partition table.
unsigned entryStartingAt(std::span<const std::uint8_t> mbr, std::uint64_t startLba);
// Sets the type byte of primary entry `number` (1-4). False, and nothing changed, when there is no
// partition table or that entry is empty.
bool setPartitionType(std::span<std::uint8_t> mbr, unsigned number, std::uint8_t type);
// Clears the four entries and the signature. False, and nothing changed, when there was no table.
bool dropLayout(std::span<std::uint8_t> mbr);

} // namespace tarvix::platform::files
