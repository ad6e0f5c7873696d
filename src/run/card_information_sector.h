// The card's last sector as the controller shares it with the station: its first half holds the
// area sizes the controller lays the card out by, the second half the card information block the
// station writes. Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvix::run {

// Where the station's card information block begins; everything before it is the controller's.
inline constexpr std::size_t kInformationBlockAt = 256;

struct RecordedAreaSizes {
  std::uint32_t binSectors = 0;
  std::uint32_t cdromSectors = 0;
};

// The hidden binary and CD-ROM area sizes in sectors, big-endian at bytes 8-11 and 12-15; the
// controller takes them up when the card is re-initialised or plugged in.
inline RecordedAreaSizes recordedAreaSizes(std::span<const std::uint8_t, 512> sector) {
  const auto bigEndian = [&](std::size_t at) {
    return std::uint32_t{sector[at]} << 24 | std::uint32_t{sector[at + 1]} << 16 |
           std::uint32_t{sector[at + 2]} << 8 | sector[at + 3];
  };
  return {bigEndian(8), bigEndian(12)};
}

} // namespace tarvix::run
