// Farms for tests: each in a fresh temporary folder, read from JSON text, with a channel holder
// that talks to a reader through the real vendor commands.
#pragma once

#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "platform/sim/farm.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarvix::sim_test {

using platform::sim::Farm;
using testing::TempDir;

// One host controller of 8 root ports with `attached` (a JSON array body) on it.
inline std::string farmJson(const std::string& attached, const std::string& top = "") {
  return R"({ "timeScale": 0.001, )" + top + R"( "hostControllers": [ { "rootHubPorts": 8,
      "attached": [ )" +
         attached + " ] } ] }";
}

// One reader on root port 1.
inline std::string oneReader(const std::string& model, const std::string& fields = "",
                             const std::string& id = "r1") {
  return farmJson(R"({ "port": 1, "reader": { "id": ")" + id + R"(", "model": ")" + model + "\"" +
                  (fields.empty() ? "" : ", " + fields) + " } }");
}

inline std::vector<std::uint8_t> readFile(const std::filesystem::path& path, std::uint64_t offset,
                                          std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
  EXPECT_EQ(static_cast<std::size_t>(in.gcount()), length) << path;
  return bytes;
}

inline std::vector<std::uint8_t> pattern(std::size_t length, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 9));
  return bytes;
}

class FarmTest : public ::testing::Test {
protected:
  // Loads `json`; fails the test with the farm's message when it is refused.
  Farm& load(const std::string& json) {
    std::string error;
    farm = Farm::fromText(json, "test farm", dir.path(), error);
    EXPECT_TRUE(farm) << error;
    if (!farm) throw std::runtime_error(error);
    return *farm;
  }
  std::string refusal(const std::string& json) {
    std::string error;
    auto refused = Farm::fromText(json, "test farm", dir.path(), error);
    EXPECT_FALSE(refused);
    return error;
  }
  // A holder opened on the first letter of `readerId` (or on `lun` of it).
  std::unique_ptr<channel::ReaderHandleHolder> openReader(const std::string& readerId,
                                                          unsigned lun = 0) {
    auto holder = std::make_unique<channel::ReaderHandleHolder>(farm->readerAccess(), trace);
    const std::vector<char> letters = farm->letters(readerId);
    EXPECT_GT(letters.size(), lun);
    const std::string name = std::string(1, letters.at(lun)) + ":";
    EXPECT_TRUE(channel::GetUSBDeviceHandle(*holder, name, farm->clock())) << name;
    return holder;
  }
  std::uint32_t unitCapacity(channel::ReaderHandleHolder& holder, unsigned unit) {
    std::uint32_t count = 0;
    std::uint32_t size = 0;
    if (!channel::GetCapacity(holder, count, size, unit)) return 0;
    EXPECT_EQ(size, 512u);
    return count;
  }

  TempDir dir;
  platform::CapturingTrace trace;
  std::unique_ptr<Farm> farm;
};

} // namespace tarvix::sim_test
