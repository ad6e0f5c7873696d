// The card's last sector as the controller shares it with the station: the controller keeps the
// CD-ROM area's size in it, and the station its card information block. Pure; any thread.
#pragma once

#include "platform/byte_order.h"
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvix::run {

// Where the station's card information block begins; everything before it is the controller's.
inline constexpr std::size_t kInformationBlockAt = 256;

// The CD-ROM area's size in sectors, big-endian at bytes 12-15.
inline std::uint32_t recordedCdromSectors(std::span<const std::uint8_t, 512> sector) {
  return platform::bigEndian32(&sector[12]);
}

} // namespace tarvix::run
