// The drive letters the station sees. Letters A-Z are bits 0-25 of the logical-drive mask.
// Thread-safe.
#pragma once

#include <cstdint>

namespace tarvix::platform {

class Drives {
public:
  virtual ~Drives() = default;
  virtual std::uint32_t logicalDriveMask() const = 0;
};

} // namespace tarvix::platform
