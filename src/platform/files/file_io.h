// Files as the farm and the backends use them, on Linux and on Windows alike: a C-library file
// descriptor, whole-buffer positioned reads and writes retried over short transfers and signals,
// sparse files and private temporary folders. False (or -1) with errno set on failure.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace tarvix::platform::files {

enum class OpenMode : std::uint8_t {
  ReadOnly,
  ReadWrite, // an existing file
  CreateNew, // read and write; fails with EEXIST when the file is there
};

// A descriptor that is not inherited by child processes; -1 on failure.
int openFile(const std::filesystem::path& path, OpenMode mode);
void closeFile(int fd);
// Sets the file's size; the bytes it gains take no room on the disk until they are written.
bool setSparseSize(int fd, std::uint64_t bytes);

bool writeAll(int fd, std::uint64_t offset, std::span<const std::uint8_t> data);
bool readAll(int fd, std::uint64_t offset, std::span<std::uint8_t> data);

// A new folder under the system's temporary folder, readable by this user only, whose name starts
// with `prefix`; empty when none could be made.
std::filesystem::path makeTemporaryFolder(std::string_view prefix);

} // namespace tarvix::platform::files
