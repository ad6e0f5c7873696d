// Whole-buffer positioned reads and writes on a file descriptor, retried over short transfers
// and signals. False with errno set on failure.
#pragma once

#include <cstdint>
#include <span>

namespace tarvix::platform::files {

bool writeAll(int fd, std::uint64_t offset, std::span<const std::uint8_t> data);
bool readAll(int fd, std::uint64_t offset, std::span<std::uint8_t> data);

} // namespace tarvix::platform::files
