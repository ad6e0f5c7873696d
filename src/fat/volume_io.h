// Sequential sector I/O on a volume: seek to a sector, then write whole sectors from there. The
// formatter's writes all go through here so each one is traced where it starts.
// A VolumeHandle belongs to one format call; nothing here is shared between calls.
#pragma once

#include "platform/trace.h"
#include "platform/volume.h"

#include <cstdint>
#include <span>

namespace tarvix::fat {

struct VolumeHandle {
  platform::Volume& volume;
  platform::TraceSink& trace;
  std::uint64_t position = 0; // byte offset of the next write
};

// Positions the handle at the start of `sector` and traces where.
void Seek_to_Sect(VolumeHandle& handle, std::uint32_t sector, std::uint32_t bytesPerSector);
// Writes `data` at the handle's position and moves past it.
bool writeSectors(VolumeHandle& handle, std::span<const std::uint8_t> data);
// Writes zeros over sectors 0 to count - 1, 128 sectors per request.
bool zero_sectors(VolumeHandle& handle, std::uint32_t bytesPerSector, std::uint32_t count);

// One trace line from a printf format.
void traceLine(platform::TraceSink& trace, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

} // namespace tarvix::fat
