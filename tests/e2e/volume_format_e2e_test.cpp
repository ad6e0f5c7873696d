// The volume format step on the simulated farm's card LUNs, checked by tools no one here wrote:
// fsck.fat on the volume cut out of the card image, and mtools reading its label.
#include "e2e/station_on_farm.h"
#include "run/volume_format_step.h"
#include "station/control_ids.h"

#include <cstdio>
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
      run::StepContext context{station->window->platform(), *station->window, *station->window,
                               options, station->window->languageOffset()};
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
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[512];
    while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr)
      output += buffer;
    const int status = pipe ? pclose(pipe) : -1;
#ifdef _WIN32
    return std::to_string(status) + ":" + output;
#else
    return std::to_string(WEXITSTATUS(status)) + ":" + output;
#endif
  }
  std::string line() { return station->window->text(station::resultLineId(1)); }

  std::unique_ptr<StationOnFarm> station;
};

TEST_F(VolumeFormat, Fat32CardGetsACleanVolumeWithTheLabel) {
  start(R"("cardMiB": 64)", "bCheckFormat=1\r\nszLabel=TARVIX\r\n");
  ASSERT_TRUE(formatFirstLun());
  EXPECT_EQ(line(), "Format \r\nSucess");
  TARVIX_SKIP_WITHOUT_MTOOLS();
  const auto volume = cutVolume();
  EXPECT_EQ(run("fsck.fat -n " + volume.string()).substr(0, 2), "0:");
  EXPECT_NE(run("MTOOLS_SKIP_CHECK=1 mlabel -s -i " + volume.string() + " ::").find("TARVIX"),
            std::string::npos);
}

// Cards leave the factory with a partition table; the format drops it and lays the file system
// over the whole disk, which only works once the partition is let go for the re-read.
TEST_F(VolumeFormat, FactoryPartitionedCardGetsAWholeDiskVolume) {
  start(R"("cardMiB": 64, "partitioned": true)", "bCheckFormat=1\r\nszLabel=TARVIX\r\n");
  ASSERT_TRUE(formatFirstLun());
  EXPECT_EQ(line(), "Format \r\nSucess");
  const auto disk = station->farm->publicDisk(station->farm->letters("r1").at(0));
  ASSERT_TRUE(disk);
  EXPECT_EQ(disk->hiddenSectors, 0u);
  TARVIX_SKIP_WITHOUT_MTOOLS();
  const auto volume = cutVolume();
  EXPECT_EQ(run("fsck.fat -n " + volume.string()).substr(0, 2), "0:");
  const std::string info = run("MTOOLS_SKIP_CHECK=1 minfo -i " + volume.string() + " ::");
  EXPECT_NE(info.find("hidden sectors: 0"), std::string::npos) << info;
  EXPECT_NE(info.find("TARVIX"), std::string::npos) << info;
}

TEST_F(VolumeFormat, SmallCardIsFat16AndAWrittenAreaForcesTheFactoryLabel) {
  start(R"("cardSectors": 40000)", "bCheckFormat=0\r\nbCheckBinFile=1\r\nszLabel=IGNORED\r\n");
  ASSERT_TRUE(formatFirstLun());
  TARVIX_SKIP_WITHOUT_MTOOLS();
  const auto volume = cutVolume();
  EXPECT_EQ(run("fsck.fat -n " + volume.string()).substr(0, 2), "0:");
  const std::string info = run("MTOOLS_SKIP_CHECK=1 minfo -i " + volume.string() + " ::");
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
