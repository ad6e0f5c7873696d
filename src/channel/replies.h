// Decoders for the controller's replies. Pure functions on byte arrays; multi-byte numbers in
// replies are big-endian.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tarvix::channel {

struct Capacity {
  std::uint32_t sectorCount = 0;
  std::uint32_t sectorSize = 0;
};

// GetCapacity's 8 bytes: sector count, then sector size.
Capacity decodeCapacity(std::span<const std::uint8_t, 8> reply);

// Megabytes as the station shows them; the product is taken in 64 bits so large cards do not wrap.
std::uint64_t capacityMiB(std::uint32_t sectorCount, std::uint32_t sectorSize);

struct UsbIdentity {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
};

// GetVIDPID 14h: bytes 0-1 vendor id, bytes 2-3 product id.
UsbIdentity decodeIdentity(std::span<const std::uint8_t> reply);

enum class CardType : std::uint8_t { XD, CF, MS, SdMmc, NoCard, Unrecognised };

// GetVIDPID 16h: byte 0.
CardType decodeCardType(std::span<const std::uint8_t> reply);

// GetVIDPID 3Eh: the high nibble of byte 4 identifies the controller model's family.
std::uint8_t decodeModelNibble(std::span<const std::uint8_t> reply);

// GetVIDPID 3Eh: bytes 5-7, the kinds of logical units 1 to 3.
std::array<std::uint8_t, 3> decodeLunKinds(std::span<const std::uint8_t> reply);

// ReadEEPROM: bytes 2-5 are four ASCII characters of the controller's model number.
std::string decodeEepromModelNumber(std::span<const std::uint8_t> reply);

} // namespace tarvix::channel
