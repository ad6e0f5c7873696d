// A volume in memory with switchable faults, for the formatter's tests.
#pragma once

#include "platform/volume.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tarvix::fat::testing {

using tarvix::testing::RecordingClock;

struct WriteRecord {
  std::uint64_t offset;
  std::size_t bytes;
};

class MemoryVolume final : public platform::Volume {
public:
  // A volume of `sectors` sectors, every byte `fill`, so untouched areas can be told apart.
  MemoryVolume(std::uint32_t sectors, std::uint32_t bytesPerSector = 512, std::uint8_t fill = 0xA5)
      : bytes(std::size_t{sectors} * bytesPerSector, fill), geometryValue{bytesPerSector, 63, 255} {
  }

  bool geometry(platform::VolumeGeometry& out) override {
    if (failGeometry) return false;
    out = geometryValue;
    return true;
  }
  bool hiddenSectors(std::uint32_t& out) override {
    if (failPartitionInfo) return false;
    out = hidden;
    return true;
  }
  bool setPartitionType(std::uint8_t type) override {
    partitionTypes.push_back(type);
    return !failPartitionType;
  }
  bool dropPartitionLayout() override { return true; }
  bool dismount() override {
    ++dismounts;
    return !failDismount;
  }
  bool writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (failWrites > 0) {
      --failWrites;
      return false;
    }
    if (writeCalls++ == failWriteNumber) return false;
    if (offset + data.size() > bytes.size()) return false;
    writes.push_back({offset, data.size()});
    std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
  }
  int lastError() const override { return 5; }
  std::string labelBytes(std::string_view label) const override {
    return std::string(label.substr(0, 11));
  }

  std::span<const std::uint8_t> sector(std::uint32_t n) const {
    return std::span(bytes).subspan(std::size_t{n} * geometryValue.bytesPerSector,
                                    geometryValue.bytesPerSector);
  }

  std::vector<std::uint8_t> bytes;
  platform::VolumeGeometry geometryValue;
  std::uint32_t hidden = 0;
  bool failGeometry = false;
  bool failPartitionInfo = false;
  bool failPartitionType = false;
  bool failDismount = false;
  int failWrites = 0;       // the next this many writes fail
  int failWriteNumber = -1; // the write with this number (from 0, every call counted) fails
  int writeCalls = 0;
  std::vector<std::uint8_t> partitionTypes;
  int dismounts = 0;
  std::vector<WriteRecord> writes;
};

// A partition table with one entry of `type`; the boot code bytes before it are 0x90.
inline std::vector<std::uint8_t> mbrWithEntry(unsigned number, std::uint32_t start,
                                              std::uint32_t count, std::uint8_t type = 0x06) {
  std::vector<std::uint8_t> mbr(512, 0x90); // boot code bytes that must survive every edit
  std::fill(mbr.begin() + 446, mbr.end(), 0);
  const std::size_t e = 446 + (number - 1) * 16;
  mbr[e + 4] = type;
  for (int i = 0; i < 4; ++i) {
    mbr[e + 8 + i] = static_cast<std::uint8_t>(start >> (8 * i));
    mbr[e + 12 + i] = static_cast<std::uint8_t>(count >> (8 * i));
  }
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  return mbr;
}

inline std::uint32_t le32(std::span<const std::uint8_t> s, std::size_t at) {
  return std::uint32_t{s[at]} | std::uint32_t{s[at + 1]} << 8 | std::uint32_t{s[at + 2]} << 16 |
         std::uint32_t{s[at + 3]} << 24;
}
inline std::uint16_t le16(std::span<const std::uint8_t> s, std::size_t at) {
  return static_cast<std::uint16_t>(s[at] | s[at + 1] << 8);
}
inline bool allBytes(std::span<const std::uint8_t> s, std::uint8_t value) {
  return std::all_of(s.begin(), s.end(), [&](std::uint8_t b) { return b == value; });
}

// A folder of the test's own holding one image file.
class ImageFile : public ::testing::Test {
protected:
  // A sparse image of `bytes` bytes that begins with `head`.
  std::string image(std::uint64_t bytes, const std::vector<std::uint8_t>& head = {}) {
    const auto path = (dir_.path() / "card.img").string();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(head.data()),
               static_cast<std::streamsize>(head.size()));
    std::filesystem::resize_file(path, bytes);
    return path;
  }
  std::vector<std::uint8_t> head(const std::string& path) {
    std::vector<std::uint8_t> bytes(512);
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(bytes.data()), 512);
    return bytes;
  }
  tarvix::testing::TempDir dir_;
};

} // namespace tarvix::fat::testing
