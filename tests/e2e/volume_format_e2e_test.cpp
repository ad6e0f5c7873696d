// The volume format step on the simulated farm's card LUNs, checked by tools no one here wrote:
// fsck.fat on the volume cut out of the card image, and mtools reading its label.
#include "app/window_port_display.h"
#include "e2e/station_on_farm.h"
#include "run/volume_format_step.h"
#include "station/control_ids.h"

#include <fstream>

namespace tarvix::testing {
namespace {

namespace id = station::id;

std::string oneReaderFarm(const std::string& card) {
  return R"({"imageDir": "img", "timeScale": 0.0001, "hostControllers": [{"rootHubPorts": 2,
    "attached": [{"port": 1, "reader": {"id": "r1", "model": "VQ301C-A-1LUN", )" +
         card + "}}]}]}";
}

class VolumeFormat : public ::testing::Test {
protected:
  void start(const std::string& card, const std::string& options) {
    station = std::make_unique<StationOnFarm>(
        oneReaderFarm(card),
        "[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=3\r\n" + options);
    station->start();
    ASSERT_TRUE(station->window->ports[0].ready);
  }
  // Runs the step on a worker thread, as the port's worker would.
  bool formatFirstLun() {
    bool passed = false;
    run::RunOptions options;
    station->host.runAndWait([&] { options = station->window->readRunOptions(); });
    std::thread worker([&] {
      run::StepContext context{
          station->window->platform(),
          std::make_shared<app::WindowPortDisplay>(*station->window, *station->window),
          *station->window, options, station->window->languageOffset()};
      passed = run::formatVolumeStep(context, station->window->ports[0].driveIndex[0]);
    });
    worker.join();
    return passed;
  }
  // The card LUN's volume as a file of its own, for fsck.fat.
  std::filesystem::path cutVolume() {
    const char letter = station->farm->letters("r1").at(0);
    const auto extent = station->farm->publicDisk(letter);
    EXPECT_TRUE(extent);
    const auto out = std::filesystem::path(extent->image).parent_path() / "volume.img";
    std::ifstream in(extent->image, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(extent->firstByte));
    std::vector<char> bytes(extent->bytes);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::ofstream(out, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out;
  }
  static std::string run(const std::string& command) {
    const Shell result = shell(command);
    return std::to_string(result.status) + ":" + result.output;
  }
  std::string line() { return station->window->text(station::resultLineId(1)); }

  std::unique_ptr<StationOnFarm> station;
};

// A clean FAT32 volume with the label, and the whole-disk volume on a card that came with a
// partition table, are the pass oracle's reading of every card.
TEST_F(VolumeFormat, SmallCardIsFat16AndAWrittenAreaForcesTheFactoryLabel) {
  start(R"("cardSectors": 40000)", "bCheckFormat=0\r\nbCheckBinFile=1\r\nszLabel=IGNORED\r\n");
  ASSERT_TRUE(formatFirstLun());
  TARVIX_SKIP_WITHOUT_MTOOLS();
  const auto volume = cutVolume();
  EXPECT_EQ(run("fsck.fat -n " + volume.string()).substr(0, 2), "0:");
  const std::string info = run("minfo -i " + volume.string() + " ::");
  EXPECT_NE(info.find("Public Disk"), std::string::npos) << info;
  EXPECT_NE(info.find("FAT16"), std::string::npos) << info;
}

TEST_F(VolumeFormat, ARefusedBootSectorWriteFailsTheFormat) {
  // 40000 sectors: a 345-sector system area, zero-filled in three writes; the boot sector is next.
  start(R"("cardSectors": 40000,
           "faults": [{"command": "volumeWrite", "after": 3, "fault": "fail", "times": 1}])",
        "bCheckFormat=1\r\n");
  EXPECT_FALSE(formatFirstLun());
  EXPECT_EQ(line(), "Format \r\nFail !!\r\n");
  EXPECT_EQ(station->window->slotColour[0], station::SlotColour::Failed);
}

TEST_F(VolumeFormat, NothingToDoWithoutFormatAreasOrReset) {
  start(R"("cardMiB": 8)", "");
  const std::string before = line();
  EXPECT_TRUE(formatFirstLun());
  EXPECT_EQ(line(), before);
}

TEST_F(VolumeFormat, CardThatNeverAnswersItsCapacityFailsRed) {
  // The scan and the model check each read the capacity once; then the card stops answering.
  start(R"("cardMiB": 8, "faults": [{"command": "GetCapacity", "after": 2, "fault": "fail"}])",
        "bCheckFormat=1\r\n");
  EXPECT_FALSE(formatFirstLun());
  EXPECT_EQ(line(), "Format \r\nFail !!\r\n");
  EXPECT_EQ(station->window->slotColour[0], station::SlotColour::Failed);
  int capacityErrors = 0;
  for (const auto& l : station->trace.lines())
    capacityErrors += l.rfind("GetCapacity Error Code", 0) == 0;
  EXPECT_EQ(capacityErrors, 10);
}

} // namespace
} // namespace tarvix::testing
