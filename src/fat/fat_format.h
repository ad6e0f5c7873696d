// The FAT formatter: lays a FAT32 or FAT16 file system over a whole volume, writing only the
// system area (reserved sectors, both FATs, the root directory) and leaving the data area alone.
// One object per format, on the caller's stack: it holds the label and nothing else between
// calls, so any number of formats run at once on their own volumes. The volume is opened and
// closed by the caller; the formatter dismounts it when done.
#pragma once

#include "platform/clock.h"
#include "platform/trace.h"
#include "platform/volume.h"

#include <cstdint>
#include <string>

namespace tarvix::fat {

class CFAT32Format {
public:
  // `clock` gives the serial number's time and the waits between zero-fill attempts.
  CFAT32Format(platform::Clock& clock, platform::TraceSink& trace);
  virtual ~CFAT32Format() = default;

  // The volume label as the operator typed it (UTF-8, up to 11 characters); empty: no label.
  void setLabel(std::string label) { label_ = std::move(label); }
  const std::string& label() const { return label_; }

  // FAT32 or FAT16 over sectors 0 to totalSectors - 1 of `volume`, as usesFat32 chooses for the
  // volume's sector size. True when the file system was written.
  bool format(platform::Volume& volume, std::uint32_t totalSectors);
  // FAT32 over sectors 0 to totalSectors - 1 of `volume`. True when the file system was written.
  bool format_volume(platform::Volume& volume, std::uint32_t totalSectors);
  // FAT16 over sectors 0 to totalSectors - 1 of `volume` (for volumes of up to 65536 sectors, and
  // those just above that FAT32 would leave too few clusters).
  bool format_volume_fat16(platform::Volume& volume, std::uint32_t totalSectors);

private:
  platform::Clock& clock_;
  platform::TraceSink& trace_;
  std::string label_;
};

} // namespace tarvix::fat
