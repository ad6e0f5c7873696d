#include "fat/fat_format.h"

#include "fat/layout.h"
#include "fat/sectors.h"
#include "fat/trace_lines.h"
#include "fat/volume_id.h"
#include "fat/volume_io.h"

namespace tarvix::fat {
namespace {

constexpr int kZeroFillAttempts = 5;
constexpr std::uint32_t kZeroFillRetryMs = 1000;

// Used when the geometry query fails: the station's sector size and the geometry every LBA disk
// reports, rather than values no one chose.
constexpr std::uint32_t kDefaultBytesPerSector = 512;
constexpr std::uint32_t kDefaultSectorsPerTrack = 63;
constexpr std::uint32_t kDefaultHeads = 255;

struct VolumeFacts {
  platform::VolumeGeometry geometry;
  std::uint32_t hiddenSectors = 0;
};

VolumeFacts queryVolume(platform::Volume& volume, platform::TraceSink& trace,
                        const char* partitionFailedLine) {
  VolumeFacts facts;
  if (!volume.geometry(facts.geometry)) trace.line(trace::kGeometryFailed);
  auto& g = facts.geometry;
  if (g.bytesPerSector == 0) g.bytesPerSector = kDefaultBytesPerSector;
  if (g.sectorsPerTrack == 0) g.sectorsPerTrack = kDefaultSectorsPerTrack;
  if (g.tracksPerCylinder == 0) g.tracksPerCylinder = kDefaultHeads;
  if (!volume.hiddenSectors(facts.hiddenSectors)) {
    trace.line(partitionFailedLine);
    facts.hiddenSectors = 0;
  }
  return facts;
}

bool refuseSectorSize(platform::TraceSink& trace, std::uint32_t bytesPerSector,
                      std::uint8_t sectorsPerCluster) {
  if (sectorSizeSupported(bytesPerSector, sectorsPerCluster)) return false;
  traceLine(trace, trace::kSectorSizeRefused, static_cast<int>(bytesPerSector));
  return true;
}

bool checkFatSize(platform::TraceSink& trace, std::uint64_t fatNeeded, std::uint32_t fatSize) {
  if (fatNeeded <= fatSize) return true;
  traceLine(trace, trace::kFatTooSmall, static_cast<std::int64_t>(fatNeeded),
            static_cast<int>(fatSize));
  return false;
}

// A system area past the volume's end would be written outside the volume.
bool checkFits(platform::TraceSink& trace, std::uint32_t totalSectors,
               std::uint32_t systemAreaSectors) {
  if (systemAreaSectors <= totalSectors) return true;
  traceLine(trace, trace::kVolumeTooSmall, static_cast<int>(totalSectors),
            static_cast<int>(systemAreaSectors));
  return false;
}

// Cards sometimes refuse a write right after their layout changed; a second later they take it.
bool zeroSystemArea(VolumeHandle& handle, platform::Clock& clock, std::uint32_t bytesPerSector,
                    std::uint32_t sectors) {
  for (int attempt = 0; attempt < kZeroFillAttempts; ++attempt) {
    if (zero_sectors(handle, bytesPerSector, sectors)) return true;
    clock.sleepMs(kZeroFillRetryMs);
  }
  handle.trace.line(trace::kZeroFillGaveUp);
  return false;
}

// One sector after the zero fill. A card that refuses it has no file system, however well the
// zero fill went, so the format fails on it.
bool writeSectorAt(VolumeHandle& handle, std::uint32_t sector, const Sector& image) {
  Seek_to_Sect(handle, sector, static_cast<std::uint32_t>(image.size()));
  return writeSectors(handle, image);
}

// Sets the partition type, then dismounts. A volume that is the whole disk has no partition entry
// to update, so only a partitioned volume fails on it.
bool finish(VolumeHandle& handle, std::uint8_t partitionType, std::uint32_t hiddenSectors,
            const char* partitionTypeFailedLine) {
  if (!handle.volume.setPartitionType(partitionType) && hiddenSectors != 0) {
    handle.trace.line(partitionTypeFailedLine);
    return false;
  }
  if (!handle.volume.dismount()) handle.trace.line(trace::kDismountFailed);
  return true;
}

} // namespace

CFAT32Format::CFAT32Format(platform::Clock& clock, platform::TraceSink& trace)
    : clock_(clock), trace_(trace) {}

bool CFAT32Format::format(platform::Volume& volume, std::uint32_t totalSectors) {
  // The formatter itself traces a failed query; here it only picks the layout.
  platform::VolumeGeometry geometry;
  const std::uint32_t bps = volume.geometry(geometry) && geometry.bytesPerSector != 0
                                ? geometry.bytesPerSector
                                : kDefaultBytesPerSector;
  return usesFat32(totalSectors, bps) ? format_volume(volume, totalSectors)
                                      : format_volume_fat16(volume, totalSectors);
}

bool CFAT32Format::format_volume(platform::Volume& volume, std::uint32_t totalSectors) {
  BootParams params;
  params.serial = make_volume_id(clock_);
  const VolumeFacts facts = queryVolume(volume, trace_, trace::kPartitionInfoFailed);
  params.geometry = facts.geometry;
  params.hiddenSectors = facts.hiddenSectors;

  if (totalSectors < 0x10000) trace_.line(trace::kTotalSectorsBelow65536);
  if (totalSectors == 0xFFFFFFFF) return false;

  const std::uint32_t bps = facts.geometry.bytesPerSector;
  const Fat32Layout layout = fat32Layout(totalSectors, bps);
  if (refuseSectorSize(trace_, bps, layout.sectorsPerCluster)) return false;

  if (layout.clusterCount > 0x0FFFFFFF) {
    trace_.line(trace::kFat32TooManyClusters);
    return false;
  }
  // Fewer than 65525 clusters is below what FAT32 is meant for, but every system still reads it.
  if (layout.clusterCount < 0x10000) {
    traceLine(trace_, trace::kFat32FewClusters, static_cast<std::int64_t>(layout.clusterCount));
  }
  if (!checkFatSize(trace_, layout.fatNeeded, layout.fatSize)) return false;
  if (!checkFits(trace_, totalSectors, layout.systemAreaSectors)) return false;

  const std::string labelBytes = label_.empty() ? std::string() : volume.labelBytes(label_);
  params.label = bootLabel(labelBytes);
  const Sector boot = fat32BootSector(layout, params);
  const Sector fsInfo = fat32FsInfoSector(layout);
  const Sector fatHead = fat32FatHead(bps);

  VolumeHandle handle{volume, trace_};
  if (!zeroSystemArea(handle, clock_, bps, layout.systemAreaSectors)) return false;
  const bool written =
      writeSectorAt(handle, 0, boot) && writeSectorAt(handle, kFat32FsInfoSector, fsInfo) &&
      writeSectorAt(handle, kFat32BackupBootSector, boot) &&
      writeSectorAt(handle, kFat32BackupFsInfoSector, fsInfo) &&
      writeSectorAt(handle, layout.fatStart(0), fatHead) &&
      writeSectorAt(handle, layout.fatStart(1), fatHead) &&
      (labelBytes.empty() || writeSectorAt(handle, layout.rootDirSector(),
                                           labelEntrySector(bps, paddedName(labelBytes))));
  if (!written) return false;
  return finish(handle, kFat32PartitionType, facts.hiddenSectors, trace::kFat32PartitionTypeFailed);
}

bool CFAT32Format::format_volume_fat16(platform::Volume& volume, std::uint32_t totalSectors) {
  BootParams params;
  params.serial = make_volume_id(clock_);
  const VolumeFacts facts = queryVolume(volume, trace_, trace::kFat16PartitionInfoFailed);
  params.geometry = facts.geometry;
  params.hiddenSectors = facts.hiddenSectors;

  const std::uint32_t bps = facts.geometry.bytesPerSector;
  const Fat16Layout layout = fat16Layout(totalSectors, bps);
  if (refuseSectorSize(trace_, bps, layout.sectorsPerCluster)) return false;

  if (layout.clusterCount > 0xFFFF) {
    trace_.line(trace::kFat16TooManyClusters);
    return false;
  }
  if (layout.clusterCount < 2048) {
    traceLine(trace_, trace::kFat16FewClusters, static_cast<std::int64_t>(layout.clusterCount));
  }
  if (!checkFatSize(trace_, layout.fatNeeded, layout.fatSize)) return false;
  if (!checkFits(trace_, totalSectors, layout.systemAreaSectors)) return false;

  const std::string labelBytes = label_.empty() ? std::string() : volume.labelBytes(label_);
  params.label = bootLabel(labelBytes);
  const Sector boot = fat16BootSector(layout, params);
  const Sector fatHead = fat16FatHead(layout);

  VolumeHandle handle{volume, trace_};
  if (!zeroSystemArea(handle, clock_, bps, layout.systemAreaSectors)) return false;
  const bool written =
      writeSectorAt(handle, 0, boot) && writeSectorAt(handle, layout.fatStart(0), fatHead) &&
      writeSectorAt(handle, layout.fatStart(1), fatHead) &&
      (labelBytes.empty() || writeSectorAt(handle, layout.rootDirSector(),
                                           labelEntrySector(bps, paddedName(labelBytes))));
  if (!written) return false;
  return finish(handle, kFat16PartitionType, facts.hiddenSectors, trace::kFat16PartitionTypeFailed);
}

} // namespace tarvix::fat
