#include "fat/layout.h"

#include <span>

namespace tarvix::fat {
namespace {

constexpr std::uint64_t kBytesPerMiB = 1048576;

// K: sectors in 1 KiB (2 for 512-byte sectors), in the 8 bits the cluster size is held in.
std::uint8_t sectorsPerKiB(std::uint32_t bytesPerSector) {
  return static_cast<std::uint8_t>(1024 / bytesPerSector);
}

std::uint8_t kibTimes(std::uint32_t kib, std::uint32_t bytesPerSector) {
  return static_cast<std::uint8_t>(kib * sectorsPerKiB(bytesPerSector));
}

std::uint64_t sizeInMiB(std::uint32_t totalSectors, std::uint32_t bytesPerSector) {
  return std::uint64_t{totalSectors} * bytesPerSector / kBytesPerMiB;
}

// Up to the smallest size that needs bigger clusters, one 512-byte cluster (K / 2 sectors).
std::uint8_t halfKiB(std::uint32_t bytesPerSector) {
  return static_cast<std::uint8_t>(sectorsPerKiB(bytesPerSector) / 2);
}

// The totals, and the cluster size: one 512-byte cluster up to `halfKiBUpToMiB`, above that
// `sizeRule`'s. False when the sector size has no cluster size.
template <typename Layout>
bool startLayout(Layout& l, std::uint32_t totalSectors, std::uint32_t bytesPerSector,
                 std::uint64_t halfKiBUpToMiB,
                 std::uint8_t (*sizeRule)(std::uint32_t, std::int64_t)) {
  l.totalSectors = totalSectors;
  l.bytesPerSector = bytesPerSector;
  if (bytesPerSector == 0) return false;
  l.sizeMiB = sizeInMiB(totalSectors, bytesPerSector);
  l.sectorsPerCluster = l.sizeMiB <= halfKiBUpToMiB
                            ? halfKiB(bytesPerSector)
                            : sizeRule(bytesPerSector, static_cast<std::int64_t>(l.sizeMiB));
  return l.sectorsPerCluster != 0;
}

} // namespace

namespace {

// Cluster sizes by volume size: up to each size in MiB, clusters of so many KiB; above the last,
// 32 KiB.
struct ClusterStep {
  std::int64_t upToMiB;
  std::uint32_t kib;
};
// 8096, not 8192: cards sold as 8 GB are a little short of 8 GiB and keep 4 KiB clusters.
constexpr ClusterStep kFat32Clusters[] = {{128, 1}, {256, 2}, {8096, 4}, {16384, 8}, {32768, 16}};
constexpr ClusterStep kFat16Clusters[] = {{64, 1}, {128, 2}, {256, 4}, {512, 8}, {1024, 16}};

std::uint8_t sectorsPerCluster(std::span<const ClusterStep> steps, std::uint32_t bytesPerSector,
                               std::int64_t sizeMiB) {
  if (bytesPerSector == 0) return 0;
  for (const ClusterStep& step : steps) {
    if (sizeMiB <= step.upToMiB) return kibTimes(step.kib, bytesPerSector);
  }
  return kibTimes(32, bytesPerSector);
}

} // namespace

std::uint8_t fat32_sectors_per_cluster(std::uint32_t bytesPerSector, std::int64_t sizeMiB) {
  return sectorsPerCluster(kFat32Clusters, bytesPerSector, sizeMiB);
}

std::uint8_t fat16_sectors_per_cluster(std::uint32_t bytesPerSector, std::int64_t sizeMiB) {
  return sectorsPerCluster(kFat16Clusters, bytesPerSector, sizeMiB);
}

bool sectorSizeSupported(std::uint32_t bytesPerSector, std::uint8_t sectorsPerCluster) {
  return (bytesPerSector == 512 || bytesPerSector == 1024) && sectorsPerCluster != 0;
}

Fat32Layout fat32Layout(std::uint32_t totalSectors, std::uint32_t bytesPerSector) {
  Fat32Layout l;
  if (!startLayout(l, totalSectors, bytesPerSector, 64, fat32_sectors_per_cluster)) return l;

  // Each cluster costs its own sectors plus 4 bytes in each of the two FATs, hence the + 8 per
  // cluster in the divisor; the + 1 rounds the FAT up so it always covers the last cluster.
  const std::uint64_t clusterBytes = std::uint64_t{l.sectorsPerCluster} * bytesPerSector + 8;
  l.fatSize = static_cast<std::uint32_t>(
      4 * std::uint64_t{totalSectors - kFat32ReservedSectors} / clusterBytes + 1);
  l.clusterCount =
      (totalSectors - kFat32ReservedSectors - kNumberOfFats * l.fatSize) / l.sectorsPerCluster;
  // Entries 0 and 1 are reserved, so the FAT must hold clusterCount + 2 entries. When the quotient
  // above falls just short of a whole number the + 1 leaves room for clusterCount only, and the
  // last cluster would have no entry; one more sector per FAT mends that (and the cluster count
  // can only shrink with it).
  if ((std::uint64_t{l.clusterCount} + 2) * 4 > std::uint64_t{l.fatSize} * bytesPerSector) {
    ++l.fatSize;
    l.clusterCount =
        (totalSectors - kFat32ReservedSectors - kNumberOfFats * l.fatSize) / l.sectorsPerCluster;
  }
  l.fatNeeded = (std::uint64_t{l.clusterCount} * 4 + bytesPerSector - 1) / bytesPerSector;
  // The root directory's one cluster is zeroed with the FATs.
  l.systemAreaSectors = kFat32ReservedSectors + kNumberOfFats * l.fatSize + l.sectorsPerCluster;
  return l;
}

namespace {

// Everything after the cluster size.
void fillFat16(Fat16Layout& l) {
  const std::uint32_t totalSectors = l.totalSectors;
  const std::uint32_t bytesPerSector = l.bytesPerSector;
  // As for FAT32 with 2-byte entries: + 4 per cluster for the two FATs, + 1 to round up. The one
  // reserved sector is the boot sector; the root directory is not taken off, so the FAT comes out
  // a little larger than it must.
  const std::uint64_t clusterBytes = std::uint64_t{l.sectorsPerCluster} * bytesPerSector + 4;
  l.fatSize = static_cast<std::uint32_t>(
      std::uint64_t{totalSectors - kFat16ReservedSectors} * 2 / clusterBytes + 1);
  l.clusterCount =
      (totalSectors - kNumberOfFats * l.fatSize - kFat16ReservedSectors) / l.sectorsPerCluster;
  l.rootDirSectors = kFat16RootEntries * kDirEntryBytes / bytesPerSector;
  l.systemAreaSectors = kFat16ReservedSectors + kNumberOfFats * l.fatSize + l.rootDirSectors;
  l.dataClusters = totalSectors > l.systemAreaSectors
                       ? (totalSectors - l.systemAreaSectors) / l.sectorsPerCluster
                       : 0;
  // As for FAT32, the FAT must also hold the two reserved entries. Counting the root directory as
  // data gives room to spare with small clusters, but not with 32 KiB ones.
  if ((std::uint64_t{l.dataClusters} + 2) * 2 > std::uint64_t{l.fatSize} * bytesPerSector) {
    ++l.fatSize;
    l.clusterCount =
        (totalSectors - kNumberOfFats * l.fatSize - kFat16ReservedSectors) / l.sectorsPerCluster;
    l.systemAreaSectors = kFat16ReservedSectors + kNumberOfFats * l.fatSize + l.rootDirSectors;
    l.dataClusters = totalSectors > l.systemAreaSectors
                         ? (totalSectors - l.systemAreaSectors) / l.sectorsPerCluster
                         : 0;
  }
  l.fatNeeded = (std::uint64_t{l.clusterCount} * 2 + bytesPerSector - 1) / bytesPerSector;
}

constexpr std::uint64_t kLargestFat16ClusterBytes = 32768;

} // namespace

Fat16Layout fat16Layout(std::uint32_t totalSectors, std::uint32_t bytesPerSector) {
  Fat16Layout l;
  if (!startLayout(l, totalSectors, bytesPerSector, 32, fat16_sectors_per_cluster)) return l;
  fillFat16(l);
  // Just above 65536 sectors the size rule still gives one-sector clusters, more of them than
  // FAT16 holds; such a volume takes the next cluster size (never beyond 32 KiB).
  while ((l.clusterCount > 0xFFFF || l.dataClusters >= kFat32MinClusters) &&
         std::uint64_t{l.sectorsPerCluster} * 2 * bytesPerSector <= kLargestFat16ClusterBytes) {
    l.sectorsPerCluster = static_cast<std::uint8_t>(l.sectorsPerCluster * 2);
    fillFat16(l);
  }
  return l;
}

bool usesFat32(std::uint32_t totalSectors, std::uint32_t bytesPerSector) {
  if (totalSectors <= kLargestFat16Sectors) return false;
  const Fat32Layout l = fat32Layout(totalSectors, bytesPerSector);
  // A sector size without a FAT32 cluster size stays with FAT32, whose formatter refuses it.
  return l.sectorsPerCluster == 0 || l.clusterCount >= kFat32MinClusters;
}

} // namespace tarvix::fat
