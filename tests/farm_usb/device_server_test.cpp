// The farm served as USB devices, driven through its sockets by a host that speaks each transport:
// what a kernel reads while it enumerates a reader, Bulk-Only commands that reach the emulator,
// failures that come back as sense data, hangs that a reset ends, and readers leaving the bus.
#include "farm_usb/control_line.h"
#include "farm_usb/device_server.h"
#include "farm_usb/qemu_arguments.h"
#include "farm_usb/usb_clients.h"
#include "platform/sim/farm_file.h"
#include "support/farm_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace tarvix::farm_usb_test {
namespace {

using platform::sim::Farm;
using testing::farmReader;
using testing::fault;

// Commands of the emulated controller, as the station frames them.
const std::vector<std::uint8_t> kGetIdentity = {0xFB, 0x14, 0x51, 0x4B, 0x5A};
const std::vector<std::uint8_t> kUnknownSubCode = {0xFB, 0x77, 0x51, 0x4B, 0x5A};
const std::vector<std::uint8_t> kReadFirstCardSector = {0xFB, 0x12, 0x51, 0x4B, 0x5A, 0,
                                                        0,    0,    0,    0,    1};
const std::vector<std::uint8_t> kInquiry = {0x12, 0, 0, 0, 36};
const std::vector<std::uint8_t> kRequestSense = {0x03, 0, 0, 0, 18};
const std::vector<std::uint8_t> kWriteFirstSector = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0};

enum class Transport { Usbredir, Usbip };

struct Status {
  std::uint8_t status = 0xFF; // of the status wrapper; 0xFF when none came
  std::uint32_t tag = 0;
  std::uint32_t residue = 0;
};

std::vector<std::uint8_t> commandWrapper(std::uint32_t tag, std::uint32_t length, bool in,
                                         std::uint8_t lun, const std::vector<std::uint8_t>& block) {
  std::vector<std::uint8_t> wrapper(31, 0);
  const std::uint32_t fields[] = {0x43425355, tag, length};
  for (int f = 0; f < 3; ++f)
    for (int i = 0; i < 4; ++i)
      wrapper[4 * f + i] = static_cast<std::uint8_t>(fields[f] >> (8 * i));
  wrapper[12] = in ? 0x80 : 0x00;
  wrapper[13] = lun;
  wrapper[14] = static_cast<std::uint8_t>(block.size() <= 10 ? (block.size() <= 6 ? 6 : 10) : 16);
  std::copy(block.begin(), block.end(), wrapper.begin() + 15);
  return wrapper;
}

std::uint32_t little32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
         std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

class DeviceServerTest : public ::testing::TestWithParam<Transport> {
protected:
  // Serves `readers` (farm file entries on root ports) over the test's transport.
  void serve(const std::string& readers) {
    std::string error;
    farm = Farm::fromText(testing::farmText(readers, 4), "test farm", dir.path(), error);
    ASSERT_TRUE(farm) << error;
    server = GetParam() == Transport::Usbredir
                 ? farm_usb::DeviceServer::serveUsbredir(*farm, dir.path(), error)
                 : farm_usb::DeviceServer::serveUsbip(*farm, "127.0.0.1", 0, error);
    ASSERT_TRUE(server) << error;
  }
  // A host attached to `readerId`; null when the reader cannot be attached.
  std::unique_ptr<UsbClient> attach(const std::string& readerId) {
    if (GetParam() == Transport::Usbredir) {
      // A reader plugged in a moment ago may not have its socket yet.
      int fd = connectUnix(dir / (readerId + ".sock"));
      for (int tries = 0; fd < 0 && tries < 20; ++tries) {
        ::usleep(50000);
        fd = connectUnix(dir / (readerId + ".sock"));
      }
      if (fd < 0) return nullptr;
      auto client = std::make_unique<RedirClient>(fd);
      if (!client->awaitDevice()) return nullptr;
      return client;
    }
    auto client = std::make_unique<UsbipClient>(connectTcp(server->usbipPort()));
    return client->import(readerId) == 0 ? std::move(client) : nullptr;
  }

  // One Bulk-Only command: wrapper, data either way, status (after clearing a data stall).
  Status command(UsbClient& host, const std::vector<std::uint8_t>& block, std::uint32_t length,
                 bool in, std::vector<std::uint8_t>* data = nullptr, std::uint8_t lun = 0) {
    const std::uint32_t tag = ++tag_;
    const auto sent = host.bulkOut(commandWrapper(tag, length, in, lun, block));
    if (!sent || sent->stalled) return {};
    if (length > 0 && in) {
      const auto reply = host.bulkIn(length);
      if (!reply) return {};
      if (reply->stalled) host.control(0x02, 0x01, 0, 0x81, 0); // CLEAR_FEATURE(halt) on IN
      if (data) *data = reply->data;
    } else if (length > 0) {
      const auto reply = host.bulkOut(data ? *data : std::vector<std::uint8_t>(length, 0));
      if (!reply || reply->stalled) return {};
    }
    const auto status = host.bulkIn(13);
    if (!status || status->data.size() != 13 || little32(status->data, 0) != 0x53425355) return {};
    return {status->data[12], little32(status->data, 4), little32(status->data, 8)};
  }
  std::vector<std::uint8_t> sense(UsbClient& host, std::uint8_t lun = 0) {
    std::vector<std::uint8_t> data;
    EXPECT_EQ(command(host, kRequestSense, 18, true, &data, lun).status, 0);
    return data;
  }

  testing::TempDir dir;
  std::unique_ptr<Farm> farm;
  std::unique_ptr<farm_usb::DeviceServer> server;
  std::uint32_t tag_ = 0;
};

TEST_P(DeviceServerTest, EnumerationShowsTheReadersIdentityAndItsUnits) {
  serve(farmReader(1, "r1", "VQ301C-A-2LUN", 1));
  auto host = attach("r1");
  ASSERT_TRUE(host);
  const auto device = host->control(0x80, 0x06, 0x0100, 0, 18);
  ASSERT_TRUE(device);
  EXPECT_EQ(std::vector<std::uint8_t>(device->data.begin() + 8, device->data.begin() + 12),
            (std::vector<std::uint8_t>{0x7D, 0x3C, 0x06, 0xA7}));
  const auto serial = host->control(0x80, 0x06, 0x0303, 0x0409, 255);
  ASSERT_TRUE(serial);
  EXPECT_EQ(serial->data, (std::vector<std::uint8_t>{6, 3, 'r', 0, '1', 0}));
  const auto configuration = host->control(0x80, 0x06, 0x0200, 0, 255);
  ASSERT_TRUE(configuration);
  ASSERT_EQ(configuration->data.size(), 32u);
  EXPECT_EQ(configuration->data[14], 0x08);                               // mass storage
  EXPECT_EQ(configuration->data[16], 0x50);                               // Bulk-Only
  EXPECT_EQ(configuration->data[22] | configuration->data[23] << 8, 512); // high speed
  const auto maxLun = host->control(0xA1, 0xFE, 0, 0, 1);
  ASSERT_TRUE(maxLun);
  EXPECT_EQ(maxLun->data, std::vector<std::uint8_t>{1});
  // The second unit is the CD-ROM area.
  std::vector<std::uint8_t> inquiry;
  EXPECT_EQ(command(*host, kInquiry, 36, true, &inquiry, 1).status, 0);
  ASSERT_EQ(inquiry.size(), 36u);
  EXPECT_EQ(inquiry[0], 0x05);
}

TEST_P(DeviceServerTest, CommandsReachTheEmulatorAndItsCardImage) {
  serve(farmReader(1, "r1", "VQ301C-A-1LUN", 1));
  auto host = attach("r1");
  ASSERT_TRUE(host);
  std::vector<std::uint8_t> identity;
  const Status status = command(*host, kGetIdentity, 16, true, &identity);
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(status.tag, tag_);
  EXPECT_EQ(status.residue, 0u);
  ASSERT_EQ(identity.size(), 16u);
  EXPECT_EQ(std::vector<std::uint8_t>(identity.begin(), identity.begin() + 4),
            (std::vector<std::uint8_t>{0x3C, 0x7D, 0xA7, 0x06}));
  // A sector written to the disk unit is where the vendor command for the whole card finds it.
  std::vector<std::uint8_t> sector(512);
  for (std::size_t i = 0; i < sector.size(); ++i)
    sector[i] = static_cast<std::uint8_t>(i * 7 + 1);
  EXPECT_EQ(command(*host, kWriteFirstSector, 512, false, &sector).status, 0);
  std::vector<std::uint8_t> readBack;
  EXPECT_EQ(command(*host, kReadFirstCardSector, 512, true, &readBack).status, 0);
  EXPECT_EQ(readBack, sector);
  EXPECT_EQ(testing::readFile(farm->cardImagePath("r1")).substr(0, 512),
            std::string(sector.begin(), sector.end()));
}

// Each refusal comes back as a failed status and the sense a kernel's REQUEST SENSE then reads.
TEST_P(DeviceServerTest, RefusalsAndFaultsBecomeSenseData) {
  serve(farmReader(1, "r1", "VQ301C-A-1LUN", 1,
                   R"(, "faults": [)" + fault("GetVIDPID", 0, "unitAttention", 1) + ", " +
                       fault("ReadCard", 0, "fail", 1) + "]"));
  auto host = attach("r1");
  ASSERT_TRUE(host);
  const struct {
    const char* what;
    std::vector<std::uint8_t> block;
    std::uint8_t key;
    std::uint8_t asc;
  } cases[] = {
      {"unit attention", kGetIdentity, 0x06, 0x29},
      {"unknown command", kUnknownSubCode, 0x05, 0x20},
      {"failed read", kReadFirstCardSector, 0x03, 0x11},
  };
  for (const auto& c : cases) {
    const Status status = command(*host, c.block, 512, true);
    EXPECT_EQ(status.status, 1) << c.what;
    EXPECT_EQ(status.residue, 512u) << c.what;
    const std::vector<std::uint8_t> data = sense(*host);
    ASSERT_EQ(data.size(), 18u) << c.what;
    EXPECT_EQ(data[2], c.key) << c.what;
    EXPECT_EQ(data[12], c.asc) << c.what;
  }
  // The faults fired once; the sense is read once.
  EXPECT_EQ(command(*host, kGetIdentity, 16, true).status, 0);
  EXPECT_EQ(sense(*host).at(2), 0x00);
}

TEST_P(DeviceServerTest, AHangIsNoReplyUntilTheHostResetsTheTransport) {
  serve(farmReader(1, "r1", "VQ301C-A-1LUN", 1,
                   R"(, "faults": [)" + fault("GetVIDPID", 0, "hang", 1) + "]"));
  auto host = attach("r1");
  ASSERT_TRUE(host);
  ASSERT_TRUE(host->bulkOut(commandWrapper(1, 16, true, 0, kGetIdentity)));
  const std::uint64_t waiting = host->requestIn(16);
  EXPECT_FALSE(host->await(waiting, 300));
  const auto cancelled = host->cancel(waiting);
  ASSERT_TRUE(cancelled);
  EXPECT_TRUE(cancelled->cancelled);
  // The kernel's recovery: Bulk-Only reset, then both halts cleared.
  ASSERT_TRUE(host->control(0x21, 0xFF, 0, 0, 0));
  ASSERT_TRUE(host->control(0x02, 0x01, 0, 0x81, 0));
  ASSERT_TRUE(host->control(0x02, 0x01, 0, 0x02, 0));
  EXPECT_EQ(command(*host, kGetIdentity, 16, true).status, 0);
}

TEST_P(DeviceServerTest, APulledReaderLeavesTheBusUntilItIsPluggedInAgain) {
  serve(farmReader(1, "r1", "VQ301C-A-1LUN", 1) + ", " +
        farmReader(2, "r2", "VQ301C-A-1LUN", 1,
                   R"(, "faults": [)" + fault("GetVIDPID", 0, "pull") + "]"));
  auto host = attach("r1");
  ASSERT_TRUE(host);
  EXPECT_EQ(farm_usb::answerControlLine(*farm, "pull r1"), "ok");
  EXPECT_TRUE(host->closedByDevice());
  EXPECT_FALSE(attach("r1"));
  if (GetParam() == Transport::Usbip) {
    EXPECT_EQ(UsbipClient::deviceList(server->usbipPort()), std::vector<std::string>{"r2"});
  }
  EXPECT_EQ(farm_usb::answerControlLine(*farm, "plug r1"), "ok");
  host = attach("r1");
  ASSERT_TRUE(host);
  EXPECT_EQ(command(*host, kGetIdentity, 16, true).status, 0);
  // A fault armed while served strikes from then on.
  EXPECT_EQ(
      farm_usb::answerControlLine(*farm, R"(fault r1 {"command": "GetVIDPID", "fault": "fail"})"),
      "ok");
  EXPECT_NE(command(*host, kGetIdentity, 16, true).status, 0);

  // A fault's pull during a command: no status, the connection ends.
  auto second = attach("r2");
  ASSERT_TRUE(second);
  EXPECT_EQ(command(*second, kGetIdentity, 16, true).status, 0xFF);
  EXPECT_TRUE(second->closedByDevice());
  EXPECT_FALSE(farm->isPlugged("r2"));
}

INSTANTIATE_TEST_SUITE_P(Transports, DeviceServerTest,
                         ::testing::Values(Transport::Usbredir, Transport::Usbip),
                         [](const auto& transport) {
                           return transport.param == Transport::Usbredir ? "usbredir" : "usbip";
                         });

TEST(ControlLines, AnswerOkOrSayWhatIsWrong) {
  testing::TempDir dir;
  std::string error;
  auto farm = Farm::fromText(testing::farmText(farmReader(1, "r1", "VQ301A", 1)), "test farm",
                             dir.path(), error);
  ASSERT_TRUE(farm) << error;
  const std::pair<const char*, const char*> lines[] = {
      {"pull r1", "ok"},
      {"pull r1", "error: r1 is pulled out already"},
      {"plug r1", "ok"},
      {"plug r1", "error: r1 is plugged in already"},
      {"plug r9", "error: no reader r9"},
      {"eject r1", "error: not a control line (pull ID, plug ID or fault ID FAULT): eject r1"},
      {"pull r1 now",
       "error: not a control line (pull ID, plug ID or fault ID FAULT): pull r1 now"},
      {"fault r1", "error: not a control line (pull ID, plug ID or fault ID FAULT): fault r1"},
      {R"(fault r1 {"command": "open", "failFirst": 1})",
       "error: the fault $.failFirst: needs a new reader"},
      {R"(fault r1 {"command": "Eject", "fault": "fail"})",
       "error: the fault $.command: names no command: \"Eject\""},
      {R"(fault r1 {"command": "GetVIDPID", "fault": "fail"})", "ok"},
      {"", ""},
  };
  for (const auto& [line, answer] : lines)
    EXPECT_EQ(farm_usb::answerControlLine(*farm, line), answer) << line;
}

TEST(QemuArguments, PutEveryReaderOnItsPortOfTheFarmsTree) {
  const std::string text =
      testing::farmText(farmReader(1, "r1", "VQ301A", 1) + ", " +
                            testing::farmHub(2, farmReader(3, "h3", "VQ301A", 1) + ", " +
                                                    farmReader(6, "h6", "VQ301A", 1)) +
                            ", " + testing::farmHub(3, farmReader(7, "s7", "VQ301A", 1), true),
                        4);
  std::string error;
  const auto plan = platform::sim::parseFarm(text, "test farm", "/tmp", error);
  ASSERT_TRUE(plan) << error;
  const auto arguments = farm_usb::qemuArguments(*plan, "/run/s", error);
  ASSERT_TRUE(arguments) << error;
  std::string joined;
  for (const std::string& argument : *arguments)
    joined += argument + "\n";
  EXPECT_EQ(joined, "-device\nqemu-xhci,id=xhci,p2=4,p3=4\n"
                    "-device\nusb-hub,bus=xhci.0,port=2,ports=4\n"
                    "-device\nusb-hub,bus=xhci.0,port=2.4,ports=4\n"
                    "-device\nusb-hub,bus=xhci.0,port=3,ports=7\n"
                    "-chardev\nsocket,id=farm-r1,path=/run/s/r1.sock,reconnect=1\n"
                    "-device\nusb-redir,chardev=farm-r1,id=r1,bus=xhci.0,port=1\n"
                    "-chardev\nsocket,id=farm-h3,path=/run/s/h3.sock,reconnect=1\n"
                    "-device\nusb-redir,chardev=farm-h3,id=h3,bus=xhci.0,port=2.3\n"
                    "-chardev\nsocket,id=farm-h6,path=/run/s/h6.sock,reconnect=1\n"
                    "-device\nusb-redir,chardev=farm-h6,id=h6,bus=xhci.0,port=2.4.3\n"
                    "-chardev\nsocket,id=farm-s7,path=/run/s/s7.sock,reconnect=1\n"
                    "-device\nusb-redir,chardev=farm-s7,id=s7,bus=xhci.0,port=3.7\n");
}

} // namespace
} // namespace tarvix::farm_usb_test
