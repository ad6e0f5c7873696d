#include "discovery/mapping.h"
#include "discovery/scans.h"
#include "discovery/walk.h"
#include "support/fake_platform.h"
#include "support/recording_controls.h"
#include "text/texts.h"

#include <gtest/gtest.h>

namespace tarvix::discovery {
namespace {

using namespace tarvix::testing;
using station::SlotColour;
using station::slotNumber;

class Discovery : public ::testing::Test {
protected:
  // A reader with one card LUN of `mib` MiB behind `letter`, answering as `productId`.
  void reader(char letter, const std::string& key, std::uint32_t number,
              std::uint16_t productId = 0xA704, std::uint32_t mib = 64) {
    drives.add(letter, key, number);
    ScriptedReader r;
    r.productId = productId;
    r.unitSectors = {mib * 2048};
    r.cardSectors = mib * 2048 + 1;
    readers.readers[std::string{letter, ':'}] = r;
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
  FakeReaders readers;
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
  readers.readers["E:"] = {.unitSectors = {131072, 131072}, .cardSectors = 131073};
  readers.readers["F:"] = readers.readers["E:"];
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

// --- The card probe ---------------------------------------------------------------------------

struct ProbeCase {
  int icType;
  std::uint16_t productId;
  std::uint8_t nibble;
  bool accepted;
  int mismatchText;
};

TEST_F(Discovery, ProbeAcceptsOnlyTheChosenModel) {
  const ProbeCase cases[] = {
      {0, 0xA704, 0, true, 0},     {0, 0xA701, 0, false, 5075}, {1, 0xA704, 0, true, 0},
      {2, 0xA707, 0, true, 0},     {2, 0xA704, 0, false, 5077}, {3, 0xA706, 0, true, 0},
      {3, 0xA706, 1, false, 5071}, {5, 0xA701, 0, true, 0},     {5, 0xA702, 0, false, 5070},
      {6, 0xA703, 0, true, 0},     {6, 0xA702, 0, false, 5074}, {7, 0xA702, 0, true, 0},
      {7, 0xA703, 0, false, 5073}, {8, 0xA701, 0, false, 5079},
  };
  hubOnRootPort(4, 1, {{1, device("1-1.1", 'E')}});
  for (const ProbeCase& c : cases) {
    reader('E', "1-1.1", 2, c.productId, 8);
    readers.readers["E:"].modelNibble = c.nibble;
    fullScan({.hubMap = true}, c.icType);
    const std::string expected =
        c.accepted ? "8 MB\r\n" : std::string(*text::lookup(c.mismatchText));
    EXPECT_EQ(line(1), expected) << "row " << c.icType << " product " << std::hex << c.productId;
    EXPECT_EQ(state.colourOf(1), c.accepted ? SlotColour::Idle : SlotColour::Failed);
    EXPECT_EQ(state.port(1).ready, c.accepted);
    EXPECT_EQ(controls.get(station::slotLabelId(1)).text, "E:");
    EXPECT_EQ(controls.get(station::slotLabelId(1)).font, station::FontChoice::ArialBlack16);
  }
}

TEST_F(Discovery, ProbeRejectsForeignDevicesAndEmptySlotsInTheOperatorsLanguage) {
  hubOnRootPort(4, 1, {{1, device("1-1.1", 'E')}, {2, device("1-1.2", 'F')}});
  reader('E', "1-1.1", 2);
  readers.readers["E:"].vendorId = 0x1234;
  reader('F', "1-1.2", 3, 0xA704, 0);
  fullScan({.hubMap = true}, 0, 2000);
  EXPECT_EQ(line(1), "不是VALT\r\n裝置!!");
  EXPECT_EQ(line(5), "沒有T flash\r\n卡!!");
  EXPECT_EQ(state.colourOf(5), SlotColour::Failed);
  EXPECT_FALSE(state.record('F').present);

  readers.readers.erase("E:"); // a reader that cannot be opened reads as vendor 0000
  fullScan({.hubMap = true}, 0);
  EXPECT_EQ(line(1), "Not VALT\r\nDevice!!");
}

TEST_F(Discovery, EepromModelIsKnownByItsEepromAndShowsTheCardType) {
  hubOnRootPort(4, 1, {{1, device("1-1.1", 'E')}});
  reader('E', "1-1.1", 2, 0xA701, 1024);
  const char model[] = "A708";
  std::copy(model, model + 4, readers.readers["E:"].eeprom.begin() + 2);
  struct Case {
    std::uint8_t type;
    const char* text;
    bool present;
  };
  for (const Case c :
       {Case{0xFE, "SDMMC:\r\n1024 MB\r\n", true}, Case{0xFD, "MS:1024 MB\r\n", true},
        Case{0xFB, "CF:1024 MB\r\n", true}, Case{0xF7, "xD:1024 MB\r\n", true},
        Case{0xFF, "NO card!!\r\n", false}, Case{0x80, "Too many\r\nT-flash Card!!", false}}) {
    readers.readers["E:"].cardType = c.type;
    fullScan({.hubMap = true}, 8);
    EXPECT_EQ(line(1), c.text);
    EXPECT_EQ(state.record('E').present, c.present);
  }
}

TEST_F(Discovery, TwoLunModelShowsTheCdromSizeOnTheSecondLine) {
  hubOnRootPort(4, 1, {{1, device("1-1.1", 'E')}});
  reader('E', "1-1.1", 2, 0xA706, 64);
  drives.add('F', "1-1.1", 3, platform::DriveType::CdRom);
  readers.readers["E:"].modelNibble = 1;
  readers.readers["E:"].lastBlock[13] = 0x01; // 65,536 sectors of CD-ROM area
  readers.readers["F:"] = readers.readers["E:"];
  fullScan({.hubMap = true}, 4);
  EXPECT_EQ(line(1), "64 MB\r\n");
  EXPECT_EQ(line(2), "32 MB\r\n");
  EXPECT_TRUE(state.record('F').present);
  EXPECT_TRUE(state.port(1).ready);
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
