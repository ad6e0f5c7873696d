// The volume format step on the simulated farm's card LUNs, checked by tools no one here wrote:
// fsck.fat on the volume cut out of the card image, and mtools reading its label.
#include "e2e/station_on_farm.h"
#include "run/volume_format_step.h"
#include "station/control_ids.h"

#include <fstream>

namespace tarvix::testing {
namespace {

class VolumeFormat : public ::testing::Test {
protected:
  void start(const std::string& card, const std::string& options) {
    station = std::make_unique<StationOnFarm>(
        farmText(farmReader(1, "r1", "VQ301C-A-1LUN", card)),
        "[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=3\r\n" + options);
    station->start();
    ASSERT_TRUE(station->window->readers().ports[0].ready);
  }
  bool formatFirstLun() {
    return station->runStep([](const run::StepContext& c, station::PortRecord& port) {
      return run::formatVolumeStep(c, port.driveIndex[0]);
    });
  }
  // The card LUN's volume as a file of its own, for fsck.fat.
  std::filesystem::path cutVolume() {
    const auto disk = station->farm->publicDisk(station->farm->letters("r1").at(0)).value();
    const auto out = disk.image.parent_path() / "volume.img";
    std::ofstream(out, std::ios::binary) << readFile(disk.image).substr(disk.firstByte, disk.bytes);
    return out;
  }
  std::string line() { return station->window->controls().text(station::resultLineId(1)); }

  std::unique_ptr<StationOnFarm> station;
};

// A clean FAT32 volume with the label, and the whole-disk volume on a card that came with a
// partition table, are the pass oracle's reading of every card.
TEST_F(VolumeFormat, SmallCardIsFat16AndAWrittenAreaForcesTheFactoryLabel) {
  start(R"("cardSectors": 40000)", "bCheckFormat=0\r\nbCheckBinFile=1\r\nszLabel=IGNORED\r\n");
  ASSERT_TRUE(formatFirstLun());
  TARVIX_SKIP_WITHOUT_MTOOLS();
  const auto volume = cutVolume();
  EXPECT_EQ(shell("fsck.fat -n " + volume.string()).status, 0);
  const std::string info = shell("minfo -i " + volume.string() + " ::").output;
  EXPECT_NE(info.find("Public Disk"), std::string::npos) << info;
  EXPECT_NE(info.find("FAT16"), std::string::npos) << info;
}

// The failure is told on the line in red: a refused boot sector write, and a card that never
// answers its capacity, asked ten times.
TEST_F(VolumeFormat, ARefusedWriteOrAMissingCapacityFailsRed) {
  const struct {
    const char* fault;
    int capacityErrors;
  } cases[] = {
      // 40000 sectors: a 345-sector system area, zero-filled in three writes; the boot sector next.
      {R"({"command": "volumeWrite", "after": 3, "fault": "fail", "times": 1})", 0},
      // The scan and the model check each read the capacity once; then the card stops answering.
      {R"({"command": "GetCapacity", "after": 2, "fault": "fail"})", 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    start(R"("cardSectors": 40000, "faults": [)" + std::string(c.fault) + "]",
          "bCheckFormat=1\r\n");
    EXPECT_FALSE(formatFirstLun());
    EXPECT_EQ(line(), "Format \r\nFail !!\r\n");
    EXPECT_EQ(station->window->readers().slotColour[0], station::SlotColour::Failed);
    int capacityErrors = 0;
    for (const auto& l : station->trace.lines())
      capacityErrors += l.rfind("GetCapacity Error Code", 0) == 0;
    EXPECT_EQ(capacityErrors, c.capacityErrors);
  }
}

} // namespace
} // namespace tarvix::testing
