#include "fat/fat_format.h"

#include "fat/layout.h"
#include "fat/sectors.h"
#include "fat/trace_lines.h"
#include "fat/volume_id.h"
#include "fat/volume_io.h"

#include <utility>
#include <vector>

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

namespace {

// Where the two formats differ: their layout, the sectors ahead of the FATs, the FAT's first
// entries, the cluster counts each holds, their trace lines and partition type. One body below
// formats with either.
template <typename Layout> struct FatTraits {
  Layout (*layout)(std::uint32_t totalSectors, std::uint32_t bytesPerSector);
  // The sectors written ahead of the FATs, in order, with where each goes.
  std::vector<std::pair<std::uint32_t, Sector>> (*leadSectors)(const Layout&, const BootParams&);
  Sector (*fatHead)(const Layout&);
  bool refusesFewSectors; // traces a volume below 65536 sectors and refuses 0xFFFFFFFF
  std::uint32_t maxClusters;
  std::uint32_t fewClustersBelow; // fewer are traced, though every system reads them
  std::uint8_t partitionType;
  const char* partitionInfoFailed;
  const char* tooManyClusters;
  const char* fewClusters;
  const char* partitionTypeFailed;
};

// The boot sector and FS information sector, each with its backup.
std::vector<std::pair<std::uint32_t, Sector>> fat32LeadSectors(const Fat32Layout& l,
                                                               const BootParams& p) {
  const Sector boot = fat32BootSector(l, p);
  const Sector fsInfo = fat32FsInfoSector(l);
  return {{0, boot},
          {kFat32FsInfoSector, fsInfo},
          {kFat32BackupBootSector, boot},
          {kFat32BackupFsInfoSector, fsInfo}};
}

const FatTraits<Fat32Layout> kFat32{
    fat32Layout,
    fat32LeadSectors,
    [](const Fat32Layout& l) { return fat32FatHead(l.bytesPerSector); },
    true,
    0x0FFFFFFF,
    0x10000,
    kFat32PartitionType,
    trace::kPartitionInfoFailed,
    trace::kFat32TooManyClusters,
    trace::kFat32FewClusters,
    trace::kFat32PartitionTypeFailed};
const FatTraits<Fat16Layout> kFat16{
    fat16Layout,
    [](const Fat16Layout& l, const BootParams& p) {
      return std::vector<std::pair<std::uint32_t, Sector>>{{0, fat16BootSector(l, p)}};
    },
    fat16FatHead,
    false,
    0xFFFF,
    2048,
    kFat16PartitionType,
    trace::kFat16PartitionInfoFailed,
    trace::kFat16TooManyClusters,
    trace::kFat16FewClusters,
    trace::kFat16PartitionTypeFailed};

template <typename Layout>
bool formatWith(const FatTraits<Layout>& fat, platform::Volume& volume, std::uint32_t totalSectors,
                platform::Clock& clock, platform::TraceSink& trace, const std::string& label) {
  BootParams params;
  params.serial = make_volume_id(clock);
  const VolumeFacts facts = queryVolume(volume, trace, fat.partitionInfoFailed);
  params.geometry = facts.geometry;
  params.hiddenSectors = facts.hiddenSectors;
  if (fat.refusesFewSectors) {
    if (totalSectors < 0x10000) trace.line(trace::kTotalSectorsBelow65536);
    if (totalSectors == 0xFFFFFFFF) return false;
  }

  const std::uint32_t bps = facts.geometry.bytesPerSector;
  const Layout layout = fat.layout(totalSectors, bps);
  if (refuseSectorSize(trace, bps, layout.sectorsPerCluster)) return false;
  if (layout.clusterCount > fat.maxClusters) {
    trace.line(fat.tooManyClusters);
    return false;
  }
  if (layout.clusterCount < fat.fewClustersBelow) {
    traceLine(trace, fat.fewClusters, static_cast<std::int64_t>(layout.clusterCount));
  }
  if (!checkFatSize(trace, layout.fatNeeded, layout.fatSize)) return false;
  if (!checkFits(trace, totalSectors, layout.systemAreaSectors)) return false;

  const std::string labelBytes = label.empty() ? std::string() : volume.labelBytes(label);
  params.label = bootLabel(labelBytes);
  const Sector fatHead = fat.fatHead(layout);

  VolumeHandle handle{volume, trace};
  if (!zeroSystemArea(handle, clock, bps, layout.systemAreaSectors)) return false;
  for (const auto& [sector, image] : fat.leadSectors(layout, params)) {
    if (!writeSectorAt(handle, sector, image)) return false;
  }
  const bool written =
      writeSectorAt(handle, layout.fatStart(0), fatHead) &&
      writeSectorAt(handle, layout.fatStart(1), fatHead) &&
      (labelBytes.empty() || writeSectorAt(handle, layout.rootDirSector(),
                                           labelEntrySector(bps, paddedName(labelBytes))));
  if (!written) return false;
  return finish(handle, fat.partitionType, facts.hiddenSectors, fat.partitionTypeFailed);
}

} // namespace

bool CFAT32Format::format_volume(platform::Volume& volume, std::uint32_t totalSectors) {
  return formatWith(kFat32, volume, totalSectors, clock_, trace_, label_);
}

bool CFAT32Format::format_volume_fat16(platform::Volume& volume, std::uint32_t totalSectors) {
  return formatWith(kFat16, volume, totalSectors, clock_, trace_, label_);
}

} // namespace tarvix::fat
