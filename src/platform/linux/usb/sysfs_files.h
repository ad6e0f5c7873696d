// Small readers for sysfs attribute files. Everything unreadable comes back empty, never as an
// exception: a device can vanish between listing a directory and reading its files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::platform::linux_usb {

// The file's first line without surrounding white space; empty when it cannot be read.
std::optional<std::string> readAttribute(const std::filesystem::path& file);
// A decimal (base 10) or hexadecimal (base 16) number with no sign and nothing after it.
std::optional<unsigned> parseNumber(std::string_view text, int base = 10);
std::optional<unsigned> readNumber(const std::filesystem::path& file, int base = 10);
// Names of the entries of a directory, sorted; empty when it cannot be listed.
std::vector<std::string> listDirectory(const std::filesystem::path& dir);
// The last component of where `node/subsystem` points ("usb", "scsi", "block"); empty if none.
std::string subsystemOf(const std::filesystem::path& node);

} // namespace tarvix::platform::linux_usb
