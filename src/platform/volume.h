// Raw access to one open volume (a card LUN's public disk, or an image of one): what the FAT
// formatter and the volume format step need from the operating system, and nothing more.
// The caller that opens a volume owns it for one operation and closes it by destroying it. One
// thread uses a given volume at a time; different volumes are independent and may be used at once.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvix::platform {

struct VolumeGeometry {
  std::uint32_t bytesPerSector = 0;
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t tracksPerCylinder = 0; // number of heads
};

class Volume {
public:
  virtual ~Volume() = default;

  // Sector size and CHS geometry of the volume's disk. On failure the fields that could be read
  // are filled and the others left untouched.
  virtual bool geometry(VolumeGeometry& out) = 0;
  // The volume's first sector on its disk: 0 for a volume that is the whole disk.
  virtual bool hiddenSectors(std::uint32_t& out) = 0;
  // Sets the type byte of the partition table entry that holds the volume. Fails when the disk has
  // no partition table, or when the volume is the whole disk.
  virtual bool setPartitionType(std::uint8_t type) = 0;
  // Removes the disk's partition table (its entries and boot signature) so that the disk is used
  // without partitions from its first sector once the system has read the layout again
  // (Volumes::rereadPartitionLayout). Until then this volume stays where it was.
  virtual bool dropPartitionLayout() = 0;
  // Writes out everything written so far and makes the system drop every mount of the volume, so
  // the new file system is read afresh on the next mount. True when nothing stays mounted.
  virtual bool dismount() = 0;
  // Writes `data` (whole sectors) at `byteOffset` from the volume's first byte; returns when the
  // write is done (on a device: when the device has it).
  virtual bool writeAt(std::uint64_t byteOffset, std::span<const std::uint8_t> data) = 0;
  // The system's error code of the last failed operation (errno on Linux).
  virtual int lastError() const = 0;
  // `label` (UTF-8 station text) in the 8-bit character set of the calling thread's locale, as a
  // FAT volume label holds it: at most 11 bytes, cut on a character boundary, and cut where a
  // character has no form in that set. No change of case, no padding.
  virtual std::string labelBytes(std::string_view label) const = 0;
};

} // namespace tarvix::platform
