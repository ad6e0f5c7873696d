#include "fat/volume_io.h"

#include "fat/trace_lines.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tarvix::fat {
namespace {

// 128 sectors of 512 bytes: the most one request to a reader moves.
constexpr std::uint32_t kZeroChunkSectors = 128;

} // namespace

void traceLine(platform::TraceSink& trace, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  trace.line(text);
}

void Seek_to_Sect(VolumeHandle& handle, std::uint32_t sector, std::uint32_t bytesPerSector) {
  handle.position = std::uint64_t{sector} * bytesPerSector;
  // The system area always ends below 4 GiB, so the high half of the position is 0; it is
  // computed rather than assumed so a wrong layout would show in the trace.
  traceLine(handle.trace, trace::kSeekToSect, sector, bytesPerSector, handle.position,
            static_cast<unsigned long>(handle.position >> 32));
}

bool writeSectors(VolumeHandle& handle, std::span<const std::uint8_t> data) {
  if (!handle.volume.writeAt(handle.position, data)) return false;
  handle.position += data.size();
  return true;
}

bool zero_sectors(VolumeHandle& handle, std::uint32_t bytesPerSector, std::uint32_t count) {
  const std::vector<std::uint8_t> zeros(std::size_t{kZeroChunkSectors} * bytesPerSector, 0);
  Seek_to_Sect(handle, 0, bytesPerSector);
  for (std::uint32_t remaining = count; remaining > 0;) {
    const std::uint32_t n = std::min(kZeroChunkSectors, remaining);
    if (!writeSectors(handle, std::span(zeros).first(std::size_t{n} * bytesPerSector))) {
      traceLine(handle.trace, trace::kZeroWriteFailed, handle.volume.lastError());
      return false;
    }
    remaining -= n;
  }
  return true;
}

} // namespace tarvix::fat
