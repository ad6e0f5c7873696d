#include "fat/sectors.h"
#include "platform/byte_order.h"

#include "fat/boot_code.h"

#include <algorithm>
#include <utility>

namespace tarvix::fat {
namespace {

constexpr std::uint8_t kFat32Jump[] = {0xEB, 0x58, 0x90}; // jmp to the boot code at 90
constexpr std::uint8_t kFat16Jump[] = {0xEB, 0x3C, 0x90}; // jmp to the boot code at 62
constexpr std::uint8_t kDriveNumber = 0x00;

constexpr std::uint32_t kFsInfoLeadSignature = 0x41615252;
constexpr std::uint32_t kFsInfoStructSignature = 0x61417272;
constexpr std::uint32_t kFsInfoTrailSignature = 0xAA550000;
constexpr std::uint32_t kFat32FirstFreeCluster = 3; // cluster 2 is the root directory

// Entry 0 carries the media byte; all four top bits set, as systems have always written it.
constexpr std::uint32_t kFat32MediaEntry = 0xFFFFFFF8;
// End of chain, and for entry 1 the clean-shutdown and no-error bits set.
constexpr std::uint32_t kFat32EndOfChain = 0x0FFFFFFF;
constexpr std::uint16_t kFat16MediaEntry = 0xFFF8;
constexpr std::uint16_t kFat16CleanEntry = 0xFFFF;

void put8(Sector& s, std::size_t at, std::uint8_t v) { s[at] = v; }
void put16(Sector& s, std::size_t at, std::uint32_t v) { platform::putLittleEndian(&s[at], v, 2); }
void put32(Sector& s, std::size_t at, std::uint32_t v) { platform::putLittleEndian(&s[at], v, 4); }
void putBytes(Sector& s, std::size_t at, std::span<const std::uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), s.begin() + static_cast<std::ptrdiff_t>(at));
}
void putText(Sector& s, std::size_t at, std::string_view text) {
  std::copy(text.begin(), text.end(), s.begin() + static_cast<std::ptrdiff_t>(at));
}

// Both 0x55AA positions: the classic one at 510 and, on longer sectors, the sector's end.
void putSignature(Sector& s) {
  for (std::size_t at : {std::size_t{510}, s.size() - 2}) {
    s[at] = 0x55;
    s[at + 1] = 0xAA;
  }
}

// The fields both boot sectors share, at the offsets of the 2.0/3.31 parameter block.
void putCommonBpb(Sector& s, std::uint32_t bytesPerSector, std::uint8_t sectorsPerCluster,
                  std::uint32_t reservedSectors, const BootParams& p) {
  putText(s, 3, kOemName);
  put16(s, 11, bytesPerSector);
  put8(s, 13, sectorsPerCluster);
  put16(s, 14, reservedSectors);
  put8(s, 16, static_cast<std::uint8_t>(kNumberOfFats));
  put8(s, 21, kMediaFixedDisk);
  put16(s, 24, p.geometry.sectorsPerTrack & 0xFFFF);
  put16(s, 26, p.geometry.tracksPerCylinder & 0xFFFF);
  put32(s, 28, p.hiddenSectors);
}

// The extended parameter block: drive number, signature, serial, label, type; FAT32 has it at 64,
// FAT16 at 36.
void putExtendedBpb(Sector& s, std::size_t at, const BootParams& p, std::string_view typeName) {
  put8(s, at, kDriveNumber);
  put8(s, at + 2, kExtendedBootSignature);
  put32(s, at + 3, p.serial);
  putBytes(s, at + 7, p.label);
  putText(s, at + 18, typeName);
}

// A boot sector's start: its jump and the parameter block both formats share.
template <typename Jump>
Sector bootSectorStart(std::uint32_t bytesPerSector, const Jump& jump,
                       std::uint8_t sectorsPerCluster, std::uint32_t reservedSectors,
                       const BootParams& p) {
  Sector s(bytesPerSector, 0);
  putBytes(s, 0, jump);
  putCommonBpb(s, bytesPerSector, sectorsPerCluster, reservedSectors, p);
  return s;
}

// A boot sector's end: the extended parameter block at `extendedAt`, the boot code, the signature.
Sector bootSectorEnd(Sector s, std::size_t extendedAt, const BootParams& p,
                     std::string_view typeName, std::size_t bootCodeAt) {
  putExtendedBpb(s, extendedAt, p, typeName);
  putBytes(s, bootCodeAt, bootCode());
  putSignature(s);
  return s;
}

} // namespace

Label11 paddedName(std::string_view labelBytes) {
  Label11 name;
  name.fill(' ');
  std::copy_n(labelBytes.begin(), std::min(labelBytes.size(), name.size()), name.begin());
  return name;
}

Label11 bootLabel(std::string_view labelBytes) {
  return paddedName(labelBytes.empty() ? kNoName : labelBytes);
}

Sector fat32BootSector(const Fat32Layout& l, const BootParams& p) {
  Sector s =
      bootSectorStart(l.bytesPerSector, kFat32Jump, l.sectorsPerCluster, kFat32ReservedSectors, p);
  put32(s, 32, l.totalSectors);
  put32(s, 36, l.fatSize);
  put16(s, 40, 0); // extended flags: FAT mirroring on
  put16(s, 42, 0); // version 0.0
  put32(s, 44, kFat32RootCluster);
  put16(s, 48, kFat32FsInfoSector);
  put16(s, 50, kFat32BackupBootSector);
  return bootSectorEnd(std::move(s), 64, p, kFat32TypeName, kFat32BootCodeOffset);
}

Sector fat32FsInfoSector(const Fat32Layout& l) {
  Sector s(l.bytesPerSector, 0);
  put32(s, 0, kFsInfoLeadSignature);
  put32(s, 484, kFsInfoStructSignature);
  put32(s, 488, l.clusterCount - 1); // the root directory holds one cluster
  put32(s, 492, kFat32FirstFreeCluster);
  put32(s, 508, kFsInfoTrailSignature);
  return s;
}

Sector fat32FatHead(std::uint32_t bytesPerSector) {
  Sector s(bytesPerSector, 0);
  put32(s, 0, kFat32MediaEntry);
  put32(s, 4, kFat32EndOfChain);
  put32(s, 8, kFat32EndOfChain); // the root directory's one-cluster chain
  return s;
}

Sector fat16BootSector(const Fat16Layout& l, const BootParams& p) {
  Sector s =
      bootSectorStart(l.bytesPerSector, kFat16Jump, l.sectorsPerCluster, kFat16ReservedSectors, p);
  put16(s, 17, kFat16RootEntries);
  // The 16-bit total holds up to 65535 sectors; a larger count goes to the 32-bit field alone.
  if (l.totalSectors < 0x10000) {
    put16(s, 19, l.totalSectors);
  } else {
    put32(s, 32, l.totalSectors);
  }
  put16(s, 22, l.fatSize & 0xFFFF);
  return bootSectorEnd(std::move(s), 36, p, kFat16TypeName, kFat16BootCodeOffset);
}

Sector fat16FatHead(const Fat16Layout& l) {
  Sector s(l.bytesPerSector, 0);
  put16(s, 0, kFat16MediaEntry);
  // A FAT16 entry 1 of 0 says "not cleanly unmounted, I/O errors" to every system, so a real
  // FAT16 volume gets the clean bits. Below 4085 clusters systems read the FAT as FAT12, where
  // these bytes (F8 FF 00 00) read clean already and the head stays as it always was.
  if (l.dataClusters >= kFat12MaxClusters) put16(s, 2, kFat16CleanEntry);
  return s;
}

Sector labelEntrySector(std::uint32_t bytesPerSector, const Label11& name) {
  Sector s(bytesPerSector, 0);
  putBytes(s, 0, name);
  put8(s, 11, kAttrVolumeLabel);
  return s;
}

} // namespace tarvix::fat
