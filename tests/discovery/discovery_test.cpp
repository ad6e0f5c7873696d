#include "discovery/mapping.h"
#include "discovery/scans.h"
#include "discovery/walk.h"
#include "platform/sim/farm.h"
#include "support/fake_platform.h"
#include "support/recording_controls.h"
#include "support/temp_dir.h"
#include "text/texts.h"

#include <fstream>
#include <functional>

#include <gtest/gtest.h>

namespace tarvix::discovery {
namespace {

using namespace tarvix::testing;
using station::SlotColour;
using station::slotNumber;

class Discovery : public ::testing::Test {
protected:
  // A reader's letter; what the probe makes of it is tried on simulated readers below.
  void reader(char letter, const std::string& key, std::uint32_t number) {
    drives.add(letter, key, number);
  }

  void hubOnRootPort(int controllerPorts, int rootPort, std::map<int, platform::UsbPort> onHub) {
    drives.topology.controllers = {{0, ports(controllerPorts, {{rootPort, hub(ports(7, onHub))}})}};
  }

  void fullScan(MappingMode mode, int icType = 0, int offset = 0) {
    scanner.fullScan(mode, {icType, offset});
  }

  const station::DriveRecord& record(char letter) { return state.record(letter); }
  std::string line(int slot) { return controls.get(station::resultLineId(slot)).text; }

  platform::ScaledClock clock{0.0001};
  platform::CapturingTrace trace;
  FakeSystem system;
  FakeDrives drives;
  FakeReaders readers; // answer zeros: every probe fails, and the mapping stands
  NoVolumes volumes;
  platform::Platform platform{clock, trace, system, drives, drives, readers, volumes};
  station::StationState state;
  RecordingControls controls;
  Scanner scanner{platform, controls, state};
};

// --- The walk ---------------------------------------------------------------------------------

TEST_F(Discovery, ReaderInARootPortGetsItsPathAndOrdinal) {
  drives.add('E', "1-3", 2);
  drives.topology.controllers = {{0, ports(4, {{3, device("1-3", 'E')}})}};
  fullScan({});
  EXPECT_EQ(record('E').usbPath.entry, (std::array<int, 8>{3, 1, 1, 3, 0, 0, 0, 0}));
  EXPECT_EQ(record('E').rootPortOrdinal, 3);
  EXPECT_EQ(state.rootPortCounter, 4);
}

TEST_F(Discovery, OrdinalsCountEveryRootPortOfEveryController) {
  drives.add('E', "2-1", 2);
  drives.add('F', "2-4", 3);
  drives.topology.controllers = {{0, ports(4)},
                                 {1, ports(4, {{1, device("2-1", 'E')}, {4, device("2-4", 'F')}})}};
  fullScan({});
  EXPECT_EQ(record('E').rootPortOrdinal, 5);
  EXPECT_EQ(record('F').rootPortOrdinal, 8);
  EXPECT_EQ(record('E').usbPath.entry[1], 2); // controller number is its index plus one
  EXPECT_EQ(state.rootPortCounter, 8);
}

TEST_F(Discovery, ChainedHubChipsMakeOneNumberedHub) {
  // Ports 1-3 on the outer chip, 4-7 on the inner chip in the outer chip's port 4.
  drives.add('E', "1-1.1", 2);
  drives.add('F', "1-1.4.2", 3);
  auto inner = hub(ports(4, {{2, device("1-1.4.2", 'F')}}));
  drives.topology.controllers = {
      {0, ports(2, {{1, hub(ports(4, {{1, device("1-1.1", 'E')}, {4, inner}}))}})}};
  fullScan({.hubMap = true});
  EXPECT_EQ(state.hubTable[0].entry, (std::array<int, 8>{3, 1, 1, 1, 0, 0, 0, 0}));
  EXPECT_TRUE(state.hubTable[1].empty());
  EXPECT_EQ(record('E').usbPath.level(), 4);
  EXPECT_EQ(record('F').usbPath.entry, (std::array<int, 8>{5, 1, 1, 1, 4, 2, 0, 0}));
  // The inner chip's port 2 is the hub's port 5.
  EXPECT_EQ(record('E').slot, 1);
  EXPECT_EQ(record('F').port, 5);
  EXPECT_EQ(record('F').slot, 17);
}

TEST_F(Discovery, AFourthHubGetsNoNumberAndNumbersOutliveTheHub) {
  drives.topology.controllers = {
      {0,
       ports(4, {{1, hub(ports(7))}, {2, hub(ports(7))}, {3, hub(ports(7))}, {4, hub(ports(7))}})}};
  fullScan({});
  EXPECT_EQ(state.hubTable[0].entry[3], 1);
  EXPECT_EQ(state.hubTable[1].entry[3], 2);
  EXPECT_EQ(state.hubTable[2].entry[3], 3);
  drives.topology.controllers = {{0, ports(4)}};
  fullScan({});
  EXPECT_EQ(state.hubTable[1].entry[3], 2);
}

TEST_F(Discovery, EveryLetterOfAReaderTakesItsPosition) {
  drives.add('E', "1-2", 7);
  drives.add('F', "1-2", 8);
  drives.add('G', "1-2", 9, platform::DriveType::CdRom);
  drives.add('H', "1-3", 10);
  drives.mask |= 1U << ('K' - 'A'); // present, with nothing the station can use behind it
  drives.topology.controllers = {{0, ports(4, {{2, device("1-2", 'E')}, {4, device("1-4", 'K')}})}};
  fullScan({});
  for (char letter : {'E', 'F', 'G'}) {
    EXPECT_EQ(record(letter).usbPath.entry, (std::array<int, 8>{3, 1, 1, 2, 0, 0, 0, 0})) << letter;
    EXPECT_EQ(record(letter).rootPortOrdinal, 2) << letter;
  }
  EXPECT_TRUE(record('H').usbPath.empty()); // another device, not on the tree
  EXPECT_EQ(record('K').letter, 0);         // inspection failed: stays empty
  EXPECT_TRUE(record('K').usbPath.empty());
}

// --- Mapping to port boxes and slots ----------------------------------------------------------

// Hub ports becoming port boxes and slots: the end-to-end discovery on a farm of two hubs.

TEST_F(Discovery, LettersOfOneReaderAreOrderedByDeviceNumber) {
  drives.add('F', "1-1.3", 5);
  drives.add('G', "1-1.3", 4);
  hubOnRootPort(4, 1, {{3, device("1-1.3", 'F')}});
  fullScan({.hubMap = true});
  EXPECT_EQ(record('G').lun, 1);
  EXPECT_EQ(record('G').slot, 9);
  EXPECT_EQ(record('F').lun, 2);
  EXPECT_EQ(record('F').slot, 10);
}

TEST_F(Discovery, CdromLetterWithTheLowestNumberTakesLunOne) {
  drives.add('E', "1-1.1", 8);
  drives.add('F', "1-1.1", 6, platform::DriveType::CdRom);
  hubOnRootPort(4, 1, {{1, device("1-1.1", 'E')}});
  fullScan({.hubMap = true});
  EXPECT_EQ(record('F').lun, 1);
  EXPECT_EQ(record('E').lun, 2);
}

TEST_F(Discovery, ReadersBehindAFurtherHubOrAboveHubPortSevenGetNoSlot) {
  drives.add('E', "1-1.2.1", 2);
  drives.add('F', "1-1.8", 3);
  drives.topology.controllers = {
      {0, ports(4, {{1, hub(ports(8, {{2, hub(ports(4, {{1, device("1-1.2.1", 'E')}}))},
                                      {8, device("1-1.8", 'F')}}))}})}};
  fullScan({.hubMap = true});
  EXPECT_EQ(record('E').slot, 0);
  EXPECT_EQ(record('F').slot, 0);
  EXPECT_EQ(record('F').port, 8); // a port number, but no slot and no line
}

TEST_F(Discovery, NoHubMapUsesTheRootPortOrdinal) {
  reader('E', "1-5", 2);
  drives.add('F', "1-6.1", 3);
  drives.topology.controllers = {
      {0, ports(8, {{5, device("1-5", 'E')}, {6, hub(ports(4, {{1, device("1-6.1", 'F')}}))}})}};
  fullScan({.noHubMap = true});
  EXPECT_EQ(record('E').port, 5);
  EXPECT_EQ(record('E').slot, 17);
  EXPECT_EQ(record('F').slot, 0);
  EXPECT_FALSE(state.port(6).assigned);
}

// --- Arrival and removal ----------------------------------------------------------------------

TEST_F(Discovery, ArrivalScanInspectsOnlyNewLettersAndNeverZ) {
  hubOnRootPort(4, 1, {{1, device("1-1.1", 'E')}});
  reader('E', "1-1.1", 2);
  scanner.arrivalScan({.hubMap = true}, {});
  EXPECT_EQ(record('E').slot, 1);

  reader('Z', "1-1.2", 3);
  drives.topology.controllers[0].rootPorts[0].ports[1] = device("1-1.2", 'Z');
  scanner.arrivalScan({.hubMap = true}, {});
  EXPECT_EQ(record('Z').letter, 0);
  EXPECT_EQ(record('Z').slot, 0);
  EXPECT_EQ(record('E').slot, 1); // present letters keep their slots
}

TEST_F(Discovery, RemovalFreesTheSlotThenThePort) {
  drives.add('E', "1-1.2", 2);
  drives.add('F', "1-1.2", 3);
  hubOnRootPort(4, 1, {{2, device("1-1.2", 'E')}});
  scanner.arrivalScan({.hubMap = true}, {});
  ASSERT_EQ(record('F').slot, 6);
  controls.setPicture(station::statusPictureId(2), 133);
  controls.setProgress(station::progressBarId(2), 200);

  drives.drives.erase('F');
  scanner.removalPass();
  EXPECT_EQ(state.letterOf(6), 0);
  EXPECT_EQ(line(6), "");
  EXPECT_FALSE(controls.get(station::resultLineId(6)).enabled);
  EXPECT_TRUE(state.port(2).assigned);
  EXPECT_EQ(state.port(2).driveIndex[1], station::kNoDrive);
  EXPECT_EQ(controls.get(station::statusPictureId(2)).picture, 133);

  drives.drives.erase('E');
  scanner.removalPass();
  EXPECT_FALSE(state.port(2).assigned);
  EXPECT_FALSE(state.port(2).ready);
  EXPECT_EQ(controls.get(station::statusPictureId(2)).picture, 131);
  EXPECT_EQ(controls.get(station::progressBarId(2)).progress, 0);
  EXPECT_EQ(record('E').letter, 0);
}

// --- The card probe, on simulated readers ----------------------------------------------------

// Readers (farm file entries) on a seven-port hub in root port 1, scanned once in hub-map mode.
class FarmScan {
public:
  FarmScan(const std::string& readers, int icType, int offset = 0,
           const std::function<void(const std::filesystem::path&)>& lay = {}) {
    if (lay) lay(dir.path() / "img");
    std::string error;
    farm = platform::sim::Farm::fromText(
        R"({"imageDir": "img", "timeScale": 0.0001, "hostControllers": [{"rootHubPorts": 4,
            "attached": [{"port": 1, "hub": {"ports": 7, "attached": [)" +
            readers + "]}}]}]}",
        "probe farm", dir.path(), error);
    if (!farm) throw std::runtime_error(error);
    onFarm = std::make_unique<platform::Platform>(
        platform::Platform{farm->clock(), trace, system, farm->drives(), farm->usbTree(),
                           farm->readerAccess(), farm->volumes()});
    Scanner(*onFarm, controls, state).fullScan({.hubMap = true}, {icType, offset});
  }
  std::string line(int slot) const { return controls.get(station::resultLineId(slot)).text; }
  SlotColour colour(int slot) const { return controls.get(station::resultLineId(slot)).colour; }

  TempDir dir;
  platform::CapturingTrace trace;
  FakeSystem system;
  std::unique_ptr<platform::sim::Farm> farm;
  std::unique_ptr<platform::Platform> onFarm;
  station::StationState state;
  RecordingControls controls;
};

std::string onHubPort(int port, const std::string& model, const std::string& fields) {
  return R"({"port": )" + std::to_string(port) + R"(, "reader": {"id": "r)" + std::to_string(port) +
         R"(", "model": ")" + model + R"(", )" + fields + "}}";
}
// A card whose public disk is 8 MiB: the last sector holds the card information.
const std::string kEightMiB = R"("cardSectors": 16385)";

TEST(Probe, AcceptsOnlyTheChosenModel) {
  struct Case {
    int icType;
    const char* model;
    int mismatchText; // 0: accepted
  };
  const Case cases[] = {
      {0, "VQ301A", 0},           {0, "VQ305A", 5075},        {1, "VQ301B", 0},
      {2, "VQ301C", 0},           {2, "VQ301A", 5077},        {3, "VQ301C-A-1LUN", 0},
      {3, "VQ301C-A-2LUN", 5071}, {5, "VQ305A", 0},           {5, "VQ307B2B-2LUN", 5070},
      {6, "VQ307B2B-1LUN", 0},    {6, "VQ307B2B-2LUN", 5074}, {7, "VQ307B2B-2LUN", 0},
      {7, "VQ307B2B-1LUN", 5073}, {8, "VQ305A", 5079},
  };
  for (const Case& c : cases) {
    // A two-slot reader is ready with a card in each slot.
    const bool twoSlots = std::string_view(c.model) == "VQ307B2B-2LUN";
    FarmScan scan(
        onHubPort(1, c.model,
                  twoSlots ? R"("cards": [{)" + kEightMiB + "}, {" + kEightMiB + "}]" : kEightMiB),
        c.icType);
    const bool accepted = c.mismatchText == 0;
    const std::string expected = accepted ? "8 MB\r\n" : std::string(*text::lookup(c.mismatchText));
    EXPECT_EQ(scan.line(1), expected) << "row " << c.icType << ", " << c.model;
    EXPECT_EQ(scan.colour(1), accepted ? SlotColour::Idle : SlotColour::Failed);
    EXPECT_EQ(scan.state.port(1).ready, accepted) << c.model;
    EXPECT_EQ(scan.controls.get(station::slotLabelId(1)).text, "D:");
    EXPECT_EQ(scan.controls.get(station::slotLabelId(1)).font, station::FontChoice::ArialBlack16);
  }
}

TEST(Probe, RejectsForeignDevicesAndEmptySlotsInTheOperatorsLanguage) {
  {
    FarmScan scan(onHubPort(1, "VQ301A", kEightMiB + R"(, "vid": "1234")") + "," +
                      onHubPort(2, "VQ301A", R"("cardSectors": 0)"),
                  0, 2000);
    EXPECT_EQ(scan.line(1), "不是VALT\r\n裝置!!");
    EXPECT_EQ(scan.line(5), "沒有T flash\r\n卡!!");
    EXPECT_EQ(scan.colour(5), SlotColour::Failed);
    EXPECT_FALSE(scan.state.record('E').present);
  }
  // A reader that cannot be opened reads as vendor 0000.
  FarmScan scan(
      onHubPort(1, "VQ301A", kEightMiB + R"(, "faults": [{"command": "open", "fault": "fail"}])"),
      0);
  EXPECT_EQ(scan.line(1), "Not VALT\r\nDevice!!");
}

TEST(Probe, EepromModelIsKnownByItsEepromAndShowsTheCardType) {
  struct Case {
    const char* card;
    const char* text;
    bool present;
  };
  const std::string gib = R"("cardSectors": 2097153, "cardType": ")";
  for (const Case c :
       {Case{"SD", "SDMMC:\r\n1024 MB\r\n", true}, Case{"MS", "MS:1024 MB\r\n", true},
        Case{"CF", "CF:1024 MB\r\n", true}, Case{"xD", "xD:1024 MB\r\n", true},
        Case{"80", "Too many\r\nT-flash Card!!", false}}) {
    FarmScan scan(onHubPort(1, "VQ348", gib + c.card + "\""), 8);
    EXPECT_EQ(scan.line(1), c.text);
    EXPECT_EQ(scan.state.record('D').present, c.present);
  }
  FarmScan none(onHubPort(1, "VQ348", R"("cardType": "none")"), 8);
  EXPECT_EQ(none.line(1), "NO card!!\r\n");
  EXPECT_FALSE(none.state.record('D').present);
}

TEST(Probe, TwoLunModelShowsTheCdromSizeOnTheSecondLine) {
  // A card that already has a CD-ROM area of 65,536 sectors, and 64 MiB of public disk.
  constexpr std::uint32_t kSectors = 64 * 2048 + 65536 + 1;
  FarmScan scan(onHubPort(1, "VQ301C-A-2LUN", R"("cardSectors": )" + std::to_string(kSectors)), 4,
                0, [&](const std::filesystem::path& images) {
                  std::filesystem::create_directories(images);
                  const auto image = images / "r1.img";
                  std::ofstream(image, std::ios::binary).close();
                  std::filesystem::resize_file(image, std::uint64_t{kSectors} * 512);
                  std::fstream(image, std::ios::binary | std::ios::in | std::ios::out)
                      .seekp((kSectors - 1) * 512ll + 12)
                      .write("\x00\x01\x00\x00", 4);
                });
  EXPECT_EQ(scan.line(1), "64 MB\r\n");
  EXPECT_EQ(scan.line(2), "32 MB\r\n");
  EXPECT_TRUE(scan.state.record('E').present);
  EXPECT_TRUE(scan.state.port(1).ready);
}

TEST_F(Discovery, BusyAndDonePortsKeepTheirDisplay) {
  hubOnRootPort(4, 1, {{1, device("1-1.1", 'E')}});
  reader('E', "1-1.1", 2);
  fullScan({.hubMap = true});
  controls.setText(station::resultLineId(1), "Start Test !!\r\n");
  state.port(1).busy = true;
  fullScan({.hubMap = true});
  EXPECT_EQ(line(1), "Start Test !!\r\n");
}

} // namespace
} // namespace tarvix::discovery
