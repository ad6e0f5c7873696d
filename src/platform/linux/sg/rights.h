// The rights vendor commands need on Linux: read-write access to the reader's block device and
// CAP_SYS_RAWIO, without which the kernel refuses SG_IO command blocks it does not know.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace tarvix::platform::linux_backend {

inline constexpr unsigned kCapSysRawIo = 17;

// The CapEff mask of a /proc/<pid>/status text; empty when the line is missing or malformed.
std::optional<std::uint64_t> effectiveCapabilities(std::string_view statusText);

// True when the process described by `procStatus` holds CAP_SYS_RAWIO; false when it does not or
// the file cannot be read.
bool hasRawIoCapability(const std::filesystem::path& procStatus);

} // namespace tarvix::platform::linux_backend
