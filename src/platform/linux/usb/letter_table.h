// The drive letters of the USB logical units, shared by the drive inspection, the USB tree, the
// volumes and the pass-through's name resolution, so they all agree on what "E:" is.
// Like a desktop system, a unit takes the lowest free letter from D when it appears and keeps it
// while it is present; units found together take letters in SCSI address order, so a reader's
// LUNs get consecutive letters and a scan of the same tree always gives the same letters.
// Thread-safe: the window thread scans while workers resolve names.
#pragma once

#include "platform/linux/usb/logical_units.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace tarvix::platform::linux_usb {

inline constexpr char kFirstLetter = 'D';

struct LetteredUnit {
  char letter = 0;
  LogicalUnit unit;
};

class LetterTable {
public:
  explicit LetterTable(LinuxUsbConfig config = {});

  // Reads sysfs again: units that went away free their letters, new ones take free letters. A
  // caller that waited while another refresh ran takes a reading that began after its call
  // instead of making its own: twenty-one workers opening at once share one walk of sysfs.
  void refresh();
  // Bit i set when letter 'A' + i is in use, as of the last refresh.
  std::uint32_t mask() const;
  std::optional<LogicalUnit> find(char letter) const;
  // Every lettered unit, by letter.
  std::vector<LetteredUnit> units() const;
  const LinuxUsbConfig& config() const { return config_; }

private:
  const LinuxUsbConfig config_;
  std::mutex refreshMutex_; // one refresh at a time, so an older reading never overwrites a newer
  std::atomic<std::uint64_t> refreshesStarted_{0};
  mutable std::mutex mutex_;
  std::array<std::optional<LogicalUnit>, 26> letters_;
};

} // namespace tarvix::platform::linux_usb
