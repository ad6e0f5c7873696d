// Twenty-one workers on their readers while the window thread walks, inspects and plugs: every
// worker reads back exactly what it wrote. Run under ThreadSanitizer in the sanitizer builds.
#include "sim/sim_fixture.h"

#include <atomic>
#include <thread>

namespace tarvix::sim_test {
namespace {

using namespace channel;

std::string twentyOneReaders() {
  std::string attached;
  for (int hub = 1; hub <= 3; ++hub) {
    attached += (hub > 1 ? ", " : "") + std::string(R"({ "port": )") + std::to_string(hub) +
                R"(, "hub": { "ports": 7, "chips": 2, "attached": [ )";
    for (int port = 1; port <= 7; ++port)
      attached += (port > 1 ? ", " : "") + std::string(R"({ "port": )") + std::to_string(port) +
                  R"(, "reader": { "id": "w)" + std::to_string((hub - 1) * 7 + port) +
                  R"(", "model": "VQ301C-A-1LUN", "cardSectors": 8192 } })";
    attached += " ] } }";
  }
  attached += R"(, { "port": 4, "reader": { "id": "spare", "model": "VQ301C-A-2LUN",
                  "cardSectors": 4096 } })";
  return farmJson(attached);
}

TEST_F(FarmTest, TwentyOneWorkersAndTheWindowThreadShareTheFarm) {
  load(twentyOneReaders());
  std::atomic<int> events = 0;
  farm->drives().setEventListener([&](platform::DeviceEvent) { ++events; });
  std::atomic<int> finished = 0;
  std::atomic<int> failures = 0;
  std::vector<std::thread> workers;
  for (int w = 1; w <= 21; ++w) {
    workers.emplace_back([&, w] {
      struct Done {
        std::atomic<int>& count;
        ~Done() { ++count; }
      } done{finished};
      const std::string id = "w" + std::to_string(w);
      const std::vector<char> letters = farm->letters(id);
      if (letters.size() != 1) {
        ++failures;
        return;
      }
      const std::string name = std::string(1, letters[0]) + ":";
      for (int round = 0; round < 8; ++round) {
        ReaderHandleHolder holder(farm->readerAccess(), trace);
        if (!GetUSBDeviceHandle(holder, name, farm->clock())) {
          ++failures;
          continue;
        }
        const auto data = pattern(65536, static_cast<std::uint8_t>(w * 16 + round));
        std::vector<std::uint8_t> back(65536);
        std::uint32_t count = 0;
        std::uint32_t size = 0;
        const auto block = static_cast<std::uint32_t>(round * 128);
        if (!WriteSector(holder, data, block) || !ReadSector(holder, back, block) || back != data ||
            !GetCapacity(holder, count, size, 0) || count != 8191 ||
            !SetBinAreaSize(holder, static_cast<std::uint32_t>(round)))
          ++failures;
        holder.close();
        auto volume = farm->volumes().open(name);
        if (!volume || !volume->writeAt(2 << 20, data)) ++failures;
      }
    });
  }
  int walks = 0;
  while (finished < 21 || walks < 4) {
    const auto topology = farm->usbTree().snapshot();
    const std::uint32_t mask = farm->drives().logicalDriveMask();
    for (int letter = 0; letter < 26; ++letter)
      if (mask & (1u << letter)) farm->drives().inspect(static_cast<char>('A' + letter));
    if (walks % 2 == 0)
      farm->pull("spare");
    else
      farm->plug("spare");
    ++walks;
  }
  for (auto& worker : workers)
    worker.join();
  farm->drives().setEventListener({});
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(events.load(), walks);
  for (int w = 1; w <= 21; ++w)
    EXPECT_EQ(readFile(farm->cardImagePath("w" + std::to_string(w)), 7 * 128 * 512, 65536),
              pattern(65536, static_cast<std::uint8_t>(w * 16 + 7)));
}

} // namespace
} // namespace tarvix::sim_test
