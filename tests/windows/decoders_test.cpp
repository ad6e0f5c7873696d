// The Windows backend's decoders on answers recorded from Windows: location information and
// location paths of devices on a two-level hub, instance ids, mount point lists, sense areas,
// pass-through frames and drive layouts; and what it hands over: frames, command lines, registry
// value names. They run on every system.
#include "channel/command_blocks.h"
#include "channel/replies.h"
#include "platform/windows/windows_text.h"
#include "support/hex_fixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace tarvix::platform::windows {
namespace {

TEST(WindowsDecoders, HubPortFromLocationInformation) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"Port_#0003.Hub_#0002", 3},
      {"Port_#0012.Hub_#0005", 12},
      {"port_#0001.hub_#0001", 1},
      {"Port_#0000.Hub_#0002", std::nullopt}, // no port 0 on a hub
      {"USB Mass Storage Device", std::nullopt},
      {"Port_#00x1.Hub_#0002", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [location, port] : cases)
    EXPECT_EQ(portFromLocation(location), port) << location;
}

TEST(WindowsDecoders, UsbInstanceIds) {
  const auto reader = parseUsbInstanceId("USB\\VID_3C7D&PID_A706\\000000000272");
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->vendorId, 0x3C7D);
  EXPECT_EQ(reader->productId, 0xA706);
  EXPECT_EQ(reader->interfaceNumber, -1);
  EXPECT_EQ(reader->instance, "000000000272");
  // A reader without a serial number: the system names the instance after its port.
  const auto function = parseUsbInstanceId("usb\\vid_0bda&pid_0129&mi_01\\6&2c8b3f1&0&0001");
  ASSERT_TRUE(function);
  EXPECT_EQ(function->interfaceNumber, 1);
  EXPECT_EQ(function->instance, "6&2c8b3f1&0&0001");
  for (const char* bad :
       {"USBSTOR\\DISK&VEN_GENERIC&PROD_SD\\000000000272&0", "USB\\VID_3C7D\\000000000272",
        "USB\\VID_3C7D&PID_A7\\1", "USB\\VID_3C7D&PID_A706", "USB\\ROOT_HUB30\\4&1b2b3c&0&0"})
    EXPECT_FALSE(parseUsbInstanceId(bad)) << bad;
}

TEST(WindowsDecoders, LocationPathsGiveTheControllerAndThePortsDown) {
  const auto onHub = parseLocationPath("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)");
  ASSERT_TRUE(onHub);
  EXPECT_EQ(onHub->controller, "PCIROOT(0)#PCI(1400)#USBROOT(0)");
  EXPECT_EQ(onHub->ports, (std::vector<int>{3, 2}));
  const auto rootHub = parseLocationPath("PCIROOT(0)#PCI(1400)#USBROOT(0)");
  ASSERT_TRUE(rootHub);
  EXPECT_TRUE(rootHub->ports.empty());
  for (const char* bad : {"PCIROOT(0)#PCI(1400)", "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(0)",
                          "PCIROOT(0)#PCI(1400)#USBROOT(0)#USBMI(1)", "ACPI(_SB_)#ACPI(PCI0)"})
    EXPECT_FALSE(parseLocationPath(bad)) << bad;
}

TEST(WindowsDecoders, LettersOfMountPoints) {
  using namespace std::string_view_literals;
  EXPECT_EQ(lettersOfMountPoints(u"E:\\\0f:\\\0C:\\mnt\\card\\\0\0"sv),
            (std::vector<char>{'E', 'F'}));
  EXPECT_TRUE(lettersOfMountPoints(u"\0"sv).empty());
  EXPECT_TRUE(lettersOfMountPoints(u"C:\\mnt\\card\\\0\0"sv).empty());
}

TEST(WindowsDecoders, PassThroughVerdicts) {
  // Fixed format with UNIT ATTENTION; descriptor format with NOT READY.
  const std::vector<std::uint8_t> unitAttention = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x28};
  const std::vector<std::uint8_t> notReady = {0x72, 0x02, 0x3A, 0x00, 0, 0, 0, 0};
  struct Case {
    bool delivered;
    std::uint32_t systemError;
    std::uint8_t status;
    std::vector<std::uint8_t> sense;
    PassThroughVerdict want;
  };
  const Case cases[] = {
      {true, 0, 0x00, {}, {true, 0, 0}},
      {true, 0, 0x02, unitAttention, {false, EIO, 0x06}},
      {true, 0, 0x02, notReady, {false, EIO, 0x02}},
      {true, 0, 0x02, {}, {false, EIO, 0}},                // no sense returned
      {true, 0, 0x08, unitAttention, {false, EIO, 0}},     // BUSY carries no sense key
      {false, 1167, 0, unitAttention, {false, ENODEV, 0}}, // the reader went away
      {false, 5, 0, {}, {false, EACCES, 0}},
      {false, 121, 0, {}, {false, ETIMEDOUT, 0}},
      {false, 31, 0, {}, {false, EIO, 0}},
  };
  for (const Case& c : cases) {
    const auto got = judgePassThrough(c.delivered, c.systemError, c.status, c.sense);
    EXPECT_EQ(got.good, c.want.good) << c.systemError << "/" << int{c.status};
    EXPECT_EQ(got.errorCode, c.want.errorCode) << c.systemError << "/" << int{c.status};
    EXPECT_EQ(got.senseKey, c.want.senseKey) << c.systemError << "/" << int{c.status};
  }
}

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX of a card with one FAT32 partition from sector 8192, as Windows
// returns it: four MBR entries, three of them unused.
std::vector<std::uint8_t> recordedLayout() {
  std::vector<std::uint8_t> bytes(kLayoutHeaderBytes + 4 * kLayoutEntryBytes, 0);
  auto put = [&](std::size_t at, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i)
      bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  put(4, 4, 4);
  put(8, 0x9A3C51E2, 4);
  const std::size_t first = kLayoutHeaderBytes;
  put(first + 8, 8192ull * 512, 8);
  put(first + 16, 7'600'000ull * 512, 8);
  put(first + 24, 1, 4);
  bytes[first + 32] = 0x0C;
  bytes[first + 34] = 1; // recognised
  put(first + 36, 8192, 4);
  for (int n = 1; n < 4; ++n)
    put(kLayoutHeaderBytes + static_cast<std::size_t>(n) * kLayoutEntryBytes + 24,
        static_cast<std::uint64_t>(n + 1), 4);
  return bytes;
}

TEST(WindowsDecoders, DriveLayoutsDecodeAndTheEmptyOneDropsEveryEntry) {
  const auto layout = decodeDriveLayout(recordedLayout());
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->style, 0u);
  EXPECT_EQ(layout->signature, 0x9A3C51E2u);
  ASSERT_EQ(layout->partitions.size(), 1u);
  EXPECT_EQ(layout->partitions[0].startingOffset, 8192ull * 512);
  EXPECT_EQ(layout->partitions[0].type, 0x0C);

  const auto empty = decodeDriveLayout(emptyMbrLayout(0x9A3C51E2));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->signature, 0x9A3C51E2u);
  EXPECT_TRUE(empty->partitions.empty());

  auto truncated = recordedLayout();
  truncated.resize(kLayoutHeaderBytes + 3 * kLayoutEntryBytes);
  EXPECT_FALSE(decodeDriveLayout(truncated));
}

TEST(WindowsDecoders, CommandLinesQuoteWhatTheRuntimeWouldSplit) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"tool", "C:\\Data\\readme.txt", "G:\\"}, "tool C:\\Data\\readme.txt G:\\"},
      {{"tool", "C:\\My Data\\", "G:\\Docs\\"}, "tool \"C:\\My Data\\\\\" G:\\Docs\\"},
      {{"tool", "say \"hi\"", ""}, "tool \"say \\\"hi\\\"\" \"\""},
      {{"tool", "a\\\\\"b"}, "tool \"a\\\\\\\\\\\"b\""},
      {{"tool", "\"C:\\My Data\\\""}, "tool \"C:\\My Data\\\""}, // quoted already
  };
  for (const auto& [argv, line] : cases)
    EXPECT_EQ(commandLine(argv), line);
  EXPECT_EQ(localeName("zh", "TW"), "zh_TW");
  EXPECT_EQ(localeName("", "TW"), "");
}

// The copy step's runs as xcopy receives them: the source always in quotation marks, written as
// it stands (xcopy has no escapes, so a folder at a drive's root keeps its one backslash).
TEST(WindowsDecoders, CopyLinesQuoteTheSourceAlways) {
  const std::tuple<std::string, std::string, std::string, const char*> cases[] = {
      {"G:\\", "D:\\Data\\readme.txt", "", "xcopy.exe \"D:\\Data\\readme.txt\" G:\\ /Y"},
      {"G:\\", "D:\\Data\\read me.txt", "", "xcopy.exe \"D:\\Data\\read me.txt\" G:\\ /Y"},
      {"G:\\", "D:\\Data\\Docs", "Docs", "xcopy.exe \"D:\\Data\\Docs\" G:\\Docs\\ /E /Y"},
      {"G:\\", "D:\\", "D", "xcopy.exe \"D:\\\" G:\\D\\ /E /Y"},
      {"G:\\", "D:\\My Docs", "My Docs", "xcopy.exe \"D:\\My Docs\" \"G:\\My Docs\\\" /E /Y"},
  };
  for (const auto& [target, source, folder, line] : cases)
    EXPECT_EQ(commandLine(xcopyCommand(target, source, folder).argv), line) << source;
}

TEST(WindowsDecoders, IgnoreSerialValueNamesJoinTheIdsAsTyped) {
  EXPECT_EQ(ignoreSerialValueName("3C7D", "A706"), "IgnoreHWSerNum3C7DA706");
  EXPECT_EQ(ignoreSerialValueName("12", "AB"), "IgnoreHWSerNum12AB");
  EXPECT_EQ(ignoreSerialValueName("", ""), "IgnoreHWSerNum");
}

// Every command's frame: variant, lengths handed over, direction, sense and data area, as the
// command table gives them (44 and 80 of a 32-bit frame are 56 and 92 in this 64-bit one).
TEST(WindowsDecoders, PassThroughFramesFollowTheCommandTable) {
  namespace c = channel;
  constexpr std::uint32_t B = frame::kBufferedCode;
  constexpr std::uint32_t D = frame::kDirectCode;
  struct Case {
    const char* name;
    platform::PassThroughRequest request;
    std::uint32_t code, in, out;
    std::uint8_t dataIn, senseLength;
    std::uint64_t dataBufferOffset;
    std::uint32_t timeout;
  };
  const Case cases[] = {
      {"ReInitialCard", c::reInitialCardRequest(), B, 92, 92, 0, 0, 0, 2},
      {"FactoryTotalDefault", c::factoryTotalDefaultRequest(), B, 92, 92, 0, 0, 0, 2},
      {"SetBinAreaSize", c::setBinAreaSizeRequest(129), B, 56, 92, 0, 32, 92, 2},
      {"SetCDRomSize", c::setCDRomSizeRequest(2048), B, 56, 92, 0, 32, 92, 2},
      {"WriteCard", c::areaTransferRequest(c::Command::WriteCard, 0, 65536), D, 92, 92, 0, 32, 0,
       2},
      {"ReadCard", c::areaTransferRequest(c::Command::ReadCard, 0, 65536), B, 56, 92 + 65536, 1, 0,
       92, 2},
      {"WriteBin", c::areaTransferRequest(c::Command::WriteBin, 0, 4096), D, 92, 92, 0, 32, 0, 2},
      {"ReadAutoRun", c::areaTransferRequest(c::Command::ReadAutoRun, 0, 2048), B, 56, 92 + 2048, 1,
       0, 92, 2},
      {"GetCapacity", c::getCapacityCardRequest(), B, 56, 100, 1, 32, 92, 2},
      {"GetVIDPID", c::getVidPidRequest(c::kVidPidIdentity), B, 56, 108, 1, 0, 92, 2},
      {"ReadEEPROM", c::readEepromRequest(128), B, 56, 220, 1, 0, 92, 2},
      {"WriteEEPROM", c::writeEepromRequest(128), D, 92, 92, 0, 0, 0, 4},
      {"WriteSector", c::writeSectorRequest(7, 512), D, 92, 92, 0, 0, 0, 2},
  };
  auto at32 = [](const std::vector<std::uint8_t>& b, std::size_t i) {
    return std::uint32_t{b[i]} | std::uint32_t{b[i + 1]} << 8 | std::uint32_t{b[i + 2]} << 16 |
           std::uint32_t{b[i + 3]} << 24;
  };
  for (const Case& k : cases) {
    const PassThroughFrame f = passThroughFrame(k.request);
    EXPECT_EQ(f.controlCode, k.code) << k.name;
    EXPECT_EQ(f.inputLength, k.in) << k.name;
    EXPECT_EQ(f.outputLength, k.out) << k.name;
    ASSERT_GE(f.bytes.size(), f.outputLength) << k.name;
    EXPECT_EQ(f.bytes[4], 1) << k.name << ": TargetId";
    EXPECT_EQ(f.bytes[6], 16) << k.name << ": CdbLength";
    EXPECT_EQ(f.bytes[7], k.senseLength) << k.name;
    EXPECT_EQ(f.bytes[8], k.dataIn) << k.name;
    EXPECT_EQ(at32(f.bytes, 12), k.request.dataLength) << k.name;
    EXPECT_EQ(at32(f.bytes, 16), k.timeout) << k.name;
    EXPECT_EQ(at32(f.bytes, 24) | std::uint64_t{at32(f.bytes, 28)} << 32, k.dataBufferOffset)
        << k.name;
    EXPECT_EQ(at32(f.bytes, 32), 60u) << k.name << ": SenseInfoOffset";
    EXPECT_TRUE(std::equal(k.request.commandBlock.begin(), k.request.commandBlock.end(),
                           f.bytes.begin() + 36))
        << k.name;
  }
  EXPECT_EQ(passThroughFrame(c::getCapacityUnitRequest(1)).bytes,
            testing::readHexFixture("windows/get_capacity_unit1_frame.hex"));
}

TEST(WindowsDecoders, AnsweredFramesGiveStatusSenseAndData) {
  const auto answered = testing::readHexFixture("windows/get_capacity_8mb_answered.hex");
  ASSERT_EQ(answered.size(), frame::kDataAt + 8);
  const auto good = judgePassThrough(true, 0, answered);
  EXPECT_TRUE(good.good);
  const auto capacity =
      channel::decodeCapacity(std::span<const std::uint8_t>(answered).subspan<frame::kDataAt, 8>());
  EXPECT_EQ(capacity.sectorCount, 16384u);
  EXPECT_EQ(capacity.sectorSize, 512u);

  const auto refused =
      judgePassThrough(true, 0, testing::readHexFixture("windows/set_cdrom_size_refused.hex"));
  EXPECT_FALSE(refused.good);
  EXPECT_EQ(refused.errorCode, EIO);
  EXPECT_EQ(refused.senseKey, 0x05);
  // The call itself failed: the frame is not read.
  EXPECT_EQ(judgePassThrough(false, 1167, answered).errorCode, ENODEV);
}

// Two controllers as a station PC lists them: a 4-port root hub with a 7-port hub on port 3 and
// readers on hub port 2 and root port 1; the second controller's root hub could not be read. A
// device behind a hub that was not listed, and one past a hub's last port, are left out.
TEST(WindowsDecoders, TopologyFromLocationPaths) {
  const std::string first = "PCIROOT(0)#PCI(1400)#USBROOT(0)";
  const std::string second = "PCIROOT(0)#PCI(1A00)#USBROOT(0)";
  const std::vector<UsbNodeRecord> nodes = {
      {first + "#USB(3)#USB(2)", false, 0, "USB\\VID_3C7D&PID_A706\\272", 'F'},
      {first + "#USB(3)", true, 7, "", 0},
      {first, true, 4, "", 0},
      {first + "#USB(1)", false, 0, "USB\\VID_3C7D&PID_A701\\9", 'D'},
      {first + "#USB(4)#USB(1)", false, 0, "orphan", 'G'},
      {first + "#USB(3)#USB(8)", false, 0, "past the last port", 'H'},
  };
  const UsbTopology topology = buildTopology({first, second}, nodes);
  ASSERT_EQ(topology.controllers.size(), 2u);
  EXPECT_EQ(topology.controllers[1].index, 1);
  EXPECT_TRUE(topology.controllers[1].rootPorts.empty());
  const auto& root = topology.controllers[0].rootPorts;
  ASSERT_EQ(root.size(), 4u);
  EXPECT_EQ(root[0].attached, UsbPort::Attached::Device);
  EXPECT_EQ(root[0].firstVolumeLetter, 'D');
  EXPECT_EQ(root[3].attached, UsbPort::Attached::Nothing);
  ASSERT_EQ(root[2].attached, UsbPort::Attached::Hub);
  ASSERT_EQ(root[2].ports.size(), 7u);
  EXPECT_EQ(root[2].ports[1].deviceKey, "USB\\VID_3C7D&PID_A706\\272");
  EXPECT_EQ(root[2].ports[1].firstVolumeLetter, 'F');
  for (std::size_t p = 0; p < 7; ++p)
    EXPECT_EQ(root[2].ports[p].attached == UsbPort::Attached::Device, p == 1) << p;
}

} // namespace
} // namespace tarvix::platform::windows
