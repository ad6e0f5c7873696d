// Multi-byte fields of command blocks, replies, descriptors and on-card structures: SCSI numbers
// are big-endian; USB, FAT and partition-table numbers little-endian. The caller has checked that
// the bytes are there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvix::platform {

template <typename Number = std::uint32_t>
constexpr Number bigEndian(const std::uint8_t* bytes, std::size_t width) {
  Number value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value = static_cast<Number>(value << 8 | bytes[i]);
  return value;
}
constexpr std::uint32_t bigEndian16(const std::uint8_t* bytes) { return bigEndian(bytes, 2); }
constexpr std::uint32_t bigEndian32(const std::uint8_t* bytes) { return bigEndian(bytes, 4); }

constexpr void putBigEndian(std::uint8_t* bytes, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
}
constexpr void putBigEndian16(std::uint8_t* bytes, std::uint32_t value) {
  putBigEndian(bytes, value, 2);
}
constexpr void putBigEndian32(std::uint8_t* bytes, std::uint32_t value) {
  putBigEndian(bytes, value, 4);
}

constexpr std::uint64_t littleEndian(const std::uint8_t* bytes, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;)
    value = value << 8 | bytes[i];
  return value;
}
constexpr void putLittleEndian(std::uint8_t* bytes, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace tarvix::platform
