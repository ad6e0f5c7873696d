// The x86 bootstrap carried in every boot sector we write. A card is never meant to start a
// computer; if a BIOS tries, the code says so and restarts on a key press.
#pragma once

#include <cstdint>
#include <span>

namespace tarvix::fat {

// Position-independent, so the same bytes run from offset 90 (FAT32) and offset 62 (FAT16).
std::span<const std::uint8_t> bootCode();

inline constexpr std::uint32_t kFat32BootCodeOffset = 90;
inline constexpr std::uint32_t kFat32BootCodeBytes = 420;
inline constexpr std::uint32_t kFat16BootCodeOffset = 62;
inline constexpr std::uint32_t kFat16BootCodeBytes = 448;

} // namespace tarvix::fat
