// The sector images a format writes: boot sectors, FSInfo, FAT heads, the label entry. Pure
// functions of the layout; each image is one sector, zero-filled, little-endian.
#pragma once

#include "fat/layout.h"
#include "platform/volume.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarvix::fat {

using Sector = std::vector<std::uint8_t>;
using Label11 = std::array<std::uint8_t, 11>;

inline constexpr std::string_view kOemName = "MSDOS5.0";
inline constexpr std::string_view kNoName = "NO NAME    ";
inline constexpr std::string_view kFat32TypeName = "FAT32   ";
inline constexpr std::string_view kFat16TypeName = "FAT16   ";
inline constexpr std::uint8_t kAttrVolumeLabel = 0x08;
inline constexpr std::uint8_t kExtendedBootSignature = 0x29;

struct BootParams {
  platform::VolumeGeometry geometry;
  std::uint32_t hiddenSectors = 0;
  std::uint32_t serial = 0;
  Label11 label{}; // as bootLabel() gives it
};

// A label's bytes as a FAT name field holds them: padded with blanks, as every FAT name is.
Label11 paddedName(std::string_view labelBytes);
// The boot sector's label field: the label when one is set, else "NO NAME    ".
Label11 bootLabel(std::string_view labelBytes);

Sector fat32BootSector(const Fat32Layout& layout, const BootParams& params);
Sector fat32FsInfoSector(const Fat32Layout& layout);
Sector fat32FatHead(std::uint32_t bytesPerSector);
Sector fat16BootSector(const Fat16Layout& layout, const BootParams& params);
Sector fat16FatHead(const Fat16Layout& layout);
// The root directory's first sector holding only the volume label entry.
Sector labelEntrySector(std::uint32_t bytesPerSector, const Label11& name);

} // namespace tarvix::fat
