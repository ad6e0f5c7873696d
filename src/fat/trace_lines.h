// The formatter's diagnostic lines, each in one place. Lines with fields are printf formats.
#pragma once

#include <cinttypes>

namespace tarvix::fat::trace {

inline constexpr char kGeometryFailed[] = "DeviceIoControl GET_DRIVE_GEOMETRY FALSE";
inline constexpr char kPartitionInfoFailed[] = "DeviceIoControl GET_PARTITION_INFO FALSE";
inline constexpr char kFat16PartitionInfoFailed[] = "DeviceIoControl FALSE 3";
inline constexpr char kTotalSectorsBelow65536[] = "TotalSectors < 65536";
inline constexpr char kFat32TooManyClusters[] = "ClusterCount > 0x0FFFFFFF";
inline constexpr char kFat32FewClusters[] = "ClusterCount < 65536, ClusterCount = %" PRId64;
inline constexpr char kFat16TooManyClusters[] = "ClusterCount > 0xFFFF";
inline constexpr char kFat16FewClusters[] = "ClusterCount < 2048, ClusterCount = %" PRId64;
inline constexpr char kFatTooSmall[] = "FatNeeded > FatSize, FatNeeded = %" PRId64 ", FatSize='%d'";
inline constexpr char kZeroWriteFailed[] = "Zero_sectors Failed to write, Error='%d'";
inline constexpr char kZeroFillGaveUp[] = "CFAT32Format::format_volume zero_sectors return false";
inline constexpr char kFat32PartitionTypeFailed[] = "piDrive.HiddenSectors ";
inline constexpr char kFat16PartitionTypeFailed[] = "piDrive.HiddenSectors exist";
inline constexpr char kDismountFailed[] = "FSCTL_DISMOUNT_VOLUME false ";
inline constexpr char kSeekToSect[] = "Seek_to_Sect: Sector='0x%X', BytesPerSector='0x%X', "
                                      "Offset='0x%" PRIx64 "', lHiOffset='0x%lx'";
// Refusals of volumes the layout cannot describe (no cluster size for the sector size, or a
// system area larger than the volume).
inline constexpr char kSectorSizeRefused[] = "BytesPerSector not supported, BytesPerSector='%d'";
inline constexpr char kVolumeTooSmall[] =
    "TotalSectors too small, TotalSectors='%d', SystemAreaSectors='%d'";

} // namespace tarvix::fat::trace
