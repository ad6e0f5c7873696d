// Layout arithmetic of the two FAT formats: pure functions on numbers, no I/O. The widths are
// deliberate (8-bit sectors per cluster, 32-bit counts with 64-bit intermediates): the card's
// file system must come out exactly the same whatever the host.
#pragma once

#include <cstdint>

namespace tarvix::fat {

inline constexpr std::uint32_t kFat32ReservedSectors = 32;
inline constexpr std::uint32_t kFat32FsInfoSector = 1;
inline constexpr std::uint32_t kFat32BackupBootSector = 6;
inline constexpr std::uint32_t kFat32BackupFsInfoSector = 7;
inline constexpr std::uint32_t kFat32RootCluster = 2;
inline constexpr std::uint8_t kFat32PartitionType = 0x0C; // FAT32 with LBA addressing

inline constexpr std::uint32_t kFat16ReservedSectors = 1;
inline constexpr std::uint32_t kFat16RootEntries = 512;
inline constexpr std::uint8_t kFat16PartitionType = 0x04;

inline constexpr std::uint32_t kNumberOfFats = 2;
inline constexpr std::uint8_t kMediaFixedDisk = 0xF8;
inline constexpr std::uint32_t kDirEntryBytes = 32;

// Cluster counts below this make every system read the volume as FAT12, whatever its boot sector
// says.
inline constexpr std::uint32_t kFat12MaxClusters = 4085;
// Likewise below this FAT16, so FAT32 needs at least this many clusters and FAT16 holds fewer.
inline constexpr std::uint32_t kFat32MinClusters = 65525;
inline constexpr std::uint32_t kLargestFat16Sectors = 65536;

// Sectors per cluster for FAT32 volumes above 64 MiB. Computed in 8 bits, like the field it fills:
// a sector size that makes the product overflow yields 0, which the formatter refuses.
std::uint8_t fat32_sectors_per_cluster(std::uint32_t bytesPerSector, std::int64_t sizeMiB);
// Sectors per cluster for FAT16 volumes above 32 MiB; same arithmetic.
std::uint8_t fat16_sectors_per_cluster(std::uint32_t bytesPerSector, std::int64_t sizeMiB);

// Only 512- and 1024-byte sectors hold a boot sector and give a nonzero cluster size.
bool sectorSizeSupported(std::uint32_t bytesPerSector, std::uint8_t sectorsPerCluster);

struct Fat32Layout {
  std::uint32_t totalSectors = 0;
  std::uint32_t bytesPerSector = 0;
  std::uint64_t sizeMiB = 0;
  std::uint8_t sectorsPerCluster = 0; // 0: the sector size is refused, the rest is left 0
  std::uint32_t fatSize = 0;          // sectors per FAT
  std::uint32_t clusterCount = 0;
  std::uint64_t fatNeeded = 0; // sectors the FAT needs for clusterCount entries
  std::uint32_t systemAreaSectors = 0;

  std::uint32_t fatStart(std::uint32_t fat) const { return kFat32ReservedSectors + fat * fatSize; }
  std::uint32_t rootDirSector() const { return kFat32ReservedSectors + kNumberOfFats * fatSize; }
};

struct Fat16Layout {
  std::uint32_t totalSectors = 0;
  std::uint32_t bytesPerSector = 0;
  std::uint64_t sizeMiB = 0;
  std::uint8_t sectorsPerCluster = 0; // 0: the sector size is refused, the rest is left 0
  std::uint32_t fatSize = 0;
  std::uint32_t clusterCount = 0; // counts the root directory's sectors as data
  std::uint64_t fatNeeded = 0;
  std::uint32_t rootDirSectors = 0;
  std::uint32_t systemAreaSectors = 0;
  // Clusters after the root directory: the count by which every system tells FAT12 from FAT16.
  std::uint32_t dataClusters = 0;

  std::uint32_t fatStart(std::uint32_t fat) const { return kFat16ReservedSectors + fat * fatSize; }
  std::uint32_t rootDirSector() const { return kFat16ReservedSectors + kNumberOfFats * fatSize; }
};

Fat32Layout fat32Layout(std::uint32_t totalSectors, std::uint32_t bytesPerSector);
Fat16Layout fat16Layout(std::uint32_t totalSectors, std::uint32_t bytesPerSector);

// FAT32 above 65536 sectors, except where it would have fewer than kFat32MinClusters clusters:
// every system that tells the FAT type by the cluster count, as the FAT standard says, would read
// such a volume as FAT16, so it gets FAT16.
bool usesFat32(std::uint32_t totalSectors, std::uint32_t bytesPerSector);

} // namespace tarvix::fat
