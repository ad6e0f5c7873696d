// The identity and image-area steps on the simulated farm's strict readers: what lands on the
// card and in the EEPROM is compared byte for byte with the layouts, and the failure paths are
// reached through the farm's faults.
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "e2e/station_on_farm.h"
#include "run/card_parameters.h"
#include "run/steps.h"
#include "station/control_ids.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <thread>

namespace tarvix::testing {
namespace {

namespace id = station::id;
using Bytes = std::vector<std::uint8_t>;

constexpr int kCardSectors = 32768; // 16 MiB
constexpr std::string_view kInfoPassed = "Information\r\nwrite pass!!";
constexpr std::string_view kInfoFailed = "Information\r\nwrite fail!!";
constexpr std::string_view kEepromPassed = "EEPROM \r\nWrite Sucess";
constexpr std::string_view kEepromFailed = "EEPROM \r\nWrite Error\r\n";
constexpr std::string_view kCloseLine = "m_hUSBDeviceHandle close handle";

// `testItems`: more keys of the [Test Item] section.
std::string identitySettings(int icType, const std::string& testItems = "",
                             bool writeParameter = true) {
  return "[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=" + std::to_string(icType) +
         "\r\nbCheckCardInforEnable=" + (writeParameter ? "1" : "0") + "\r\n" + testItems +
         "[CardInfor]\r\nszVID=1B2C\r\nszPID=0042\r\n"
         "szVendor=Acme\r\nszProduct=Reader\r\nszSerialNum=000000000041\r\nbIncrease=1\r\n"
         "szDiskVendor=ACME\r\nszDiskProduct=Disk\r\nszCDROMVendor=ACMECD\r\n"
         "szCDROMProduct=Rom\r\nnMaxPower=100\r\nnLEDSpeed=1\r\n";
}

class CardSteps : public ::testing::Test {
protected:
  void start(const std::string& model, int icType, const std::string& faults = "",
             const std::string& settings = "") {
    const std::string farm =
        R"({"imageDir": "img", "timeScale": 0.0001, "hostControllers": [{"rootHubPorts": 2,
        "attached": [{"port": 1, "reader": {"id": "r1", "model": ")" +
        model + R"(", "cardSectors": )" + std::to_string(kCardSectors) +
        (faults.empty() ? "" : R"(, "faults": )" + faults) + "}}]}]}";
    station = std::make_unique<StationOnFarm>(farm, settings.empty() ? identitySettings(icType)
                                                                     : settings);
    station->start();
    ASSERT_TRUE(station->window->ports[0].ready);
  }
  run::StepContext context() {
    return {station->window->platform(), *station->window, *station->window,
            station->window->languageOffset()};
  }
  int drive() { return station->window->ports[0].driveIndex[0]; }
  station::PortRecord& port() { return station->window->ports[0]; }
  // Runs `step` on a worker thread, as the port's worker would.
  template <typename Step> auto onWorker(Step step) {
    decltype(step()) result{};
    std::thread worker([&] { result = step(); });
    worker.join();
    return result;
  }
  std::string line(int slot = 1) { return station->window->text(station::resultLineId(slot)); }
  int progress() {
    int position = 0;
    station->host.runAndWait(
        [&] { position = station->window->control(station::progressBarId(1)).position; });
    return position;
  }
  // Trace lines that begin with `prefix`, from line `from` on.
  int traced(std::string_view prefix, std::size_t from = 0) {
    int n = 0;
    const auto lines = station->trace.lines();
    for (std::size_t i = from; i < lines.size(); ++i)
      n += lines[i].rfind(prefix, 0) == 0;
    return n;
  }
  Bytes cardBytes(std::uint64_t sector, std::size_t bytes) {
    std::ifstream in(station->farm->cardImagePath("r1"), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(sector * 512));
    Bytes out(bytes);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(bytes));
    return out;
  }
  // Sizes the hidden binary and CD-ROM areas as the partition-size step would.
  void sizeAreas(std::uint32_t binSectors, std::uint32_t cdSectors) {
    channel::ReaderHandleHolder holder(station->farm->readerAccess(), station->trace);
    const char letter = station->farm->letters("r1").at(0);
    ASSERT_TRUE(
        channel::GetUSBDeviceHandle(holder, station::driveName(letter), station->farm->clock()));
    ASSERT_TRUE(channel::SetBinAreaSize(holder, binSectors));
    ASSERT_TRUE(channel::SetCDRomSize(holder, cdSectors));
    ASSERT_TRUE(channel::ReInitialCard(holder));
  }
  // The parameters identitySettings gives, with the serial this reader should get.
  static run::CardParameters expectedParameters(const std::string& serial) {
    run::CardParameters p;
    p.vid = "1B2C";
    p.pid = "0042";
    p.manufacturer = "Acme";
    p.product = "Reader";
    p.serial = serial;
    p.diskVendor = "ACME";
    p.diskProduct = "Disk";
    p.cdromVendor = "ACMECD";
    p.cdromProduct = "Rom";
    p.maxPowerGiven = true;
    p.maxPowerValue = 100;
    p.ledSpeedRow = 1;
    return p;
  }

  std::unique_ptr<StationOnFarm> station;
};

Bytes pattern(std::size_t size, unsigned seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i)
    out[i] = static_cast<std::uint8_t>((i * 131 + seed + i / 512) & 0xFF);
  return out;
}

// --- Card information --------------------------------------------------------------------------

TEST_F(CardSteps, CardInformationWritesTheBlockIntoTheLastSectorOnce) {
  start("VQ301C-A-1LUN", 3);
  ASSERT_TRUE(onWorker([&] { return run::cardInformationStep(context(), drive()); }));
  const run::SectorImage expected = run::cardInformationSector(expectedParameters("000000000041"));
  EXPECT_EQ(cardBytes(kCardSectors - 1, 512), Bytes(expected.begin(), expected.end()));
  EXPECT_EQ(line(), kInfoPassed);
  EXPECT_TRUE(port().cardInfoWritten);
  EXPECT_EQ(station->window->serialText, "000000000042");
  EXPECT_EQ(station->window->text(id::kSerial), "000000000041");
  EXPECT_EQ(station->trace.lines().back(), kCloseLine);
  EXPECT_EQ(station->window->slotColour[0], station::SlotColour::Idle);

  // Written already: nothing is sent and no serial number is spent.
  const auto linesBefore = station->trace.lines().size();
  ASSERT_TRUE(onWorker([&] { return run::cardInformationStep(context(), drive()); }));
  EXPECT_EQ(station->trace.lines().size(), linesBefore);
  EXPECT_EQ(line(), kInfoPassed);
  EXPECT_EQ(station->window->serialText, "000000000042");
}

TEST_F(CardSteps, CardInformationFailuresShowOnlyThroughTheComparison) {
  struct Case {
    const char* name;
    std::string faults;
  } cases[] = {
      {"read-back corrupted", R"([{"command": "ReadCard", "after": 0, "fault": "corrupt"}])"},
      {"write refused", R"([{"command": "WriteCard", "after": 1, "fault": "fail"}])"},
      // The scan and the model check each read the capacity once; then the card stops answering.
      {"no capacity", R"([{"command": "GetCapacity", "after": 2, "fault": "fail"}])"},
      {"reader pulled", R"([{"command": "WriteCard", "after": 0, "fault": "pull"}])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    start("VQ301C-A-1LUN", 3, c.faults);
    EXPECT_FALSE(onWorker([&] { return run::cardInformationStep(context(), drive()); }));
    EXPECT_EQ(line(), kInfoFailed);
    EXPECT_FALSE(port().cardInfoWritten);
    EXPECT_EQ(station->trace.lines().back(), kCloseLine);
    station.reset();
  }
}

// --- Serial numbers ----------------------------------------------------------------------------

TEST_F(CardSteps, ConcurrentWorkersNeverShareASerialNumber) {
  start("VQ301C-A-1LUN", 3);
  constexpr int kWorkers = 21;
  std::vector<std::string> taken(kWorkers);
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i)
    workers.emplace_back([&, i] { taken[i] = run::takeSerialNumber(context()); });
  for (auto& w : workers)
    w.join();
  std::set<std::string> expected;
  for (int n = 41; n < 41 + kWorkers; ++n)
    expected.insert(run::nextSerialText(std::to_string(n - 1)));
  EXPECT_EQ(std::set<std::string>(taken.begin(), taken.end()), expected);
  EXPECT_EQ(station->window->serialText, "000000000062");
}

TEST_F(CardSteps, TwelveNinesGrowToThirteenDigitsAndWithoutIncreaseNothingMoves) {
  start("VQ301C-A-1LUN", 3);
  station->window->serialText = "999999999999";
  EXPECT_EQ(onWorker([&] { return run::takeSerialNumber(context()); }), "999999999999");
  EXPECT_EQ(station->window->serialText, "1000000000000");
  station->window->setChecked(id::kIncrease, false);
  EXPECT_EQ(onWorker([&] { return run::takeSerialNumber(context()); }), "1000000000000");
  EXPECT_EQ(station->window->serialText, "1000000000000");
}

// --- EEPROM ------------------------------------------------------------------------------------

TEST_F(CardSteps, EepromParameterImageLandsInTheEeprom) {
  start("VQ348", 8);
  ASSERT_TRUE(onWorker([&] { return run::eepromParameterStep(context(), drive(), port()); }));
  const run::SectorImage expected = run::eepromParameterImage(expectedParameters("000000000041"));
  const Bytes eeprom = station->farm->eepromBytes("r1");
  ASSERT_GE(eeprom.size(), run::kEepromImageLength);
  EXPECT_EQ(Bytes(eeprom.begin(), eeprom.begin() + run::kEepromImageLength),
            Bytes(expected.begin(), expected.begin() + run::kEepromImageLength));
  EXPECT_EQ(line(), kEepromPassed);
  EXPECT_FALSE(port().cardInfoWritten); // this step never sets it
  EXPECT_EQ(station->trace.lines().back(), kCloseLine);
}

TEST_F(CardSteps, EepromParameterFailuresShowTheWriteError) {
  const char* faults[] = {
      R"([{"command": "WriteEEPROM", "after": 0, "fault": "fail"}])",
      R"([{"command": "ReadEEPROM", "after": 0, "fault": "fail"}])",
      R"([{"command": "ReadEEPROM", "after": 0, "fault": "corrupt"}])",
  };
  for (const char* f : faults) {
    SCOPED_TRACE(f);
    start("VQ348", 8, f);
    EXPECT_FALSE(onWorker([&] { return run::eepromParameterStep(context(), drive(), port()); }));
    EXPECT_EQ(line(), kEepromFailed);
    EXPECT_EQ(station->trace.lines().back(), kCloseLine);
    station.reset();
  }
}

TEST_F(CardSteps, EepromFactoryDefaultClearsTheFirst128BytesOrStopsWhereItFails) {
  struct Case {
    const char* faults;
    int progress;
    bool passed = false;
  } cases[] = {
      {"", 180, true}, // the parameter image first, so there is something to clear
      {R"([{"command": "WriteEEPROM", "after": 1, "fault": "fail"}])", 10},
      {R"([{"command": "ReadEEPROM", "after": 1, "fault": "fail"}])", 120},
      {R"([{"command": "ReadEEPROM", "after": 1, "fault": "corrupt"}])", 180},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    start("VQ348", 8, c.faults);
    ASSERT_TRUE(onWorker([&] { return run::eepromParameterStep(context(), drive(), port()); }));
    EXPECT_EQ(onWorker([&] { return run::eepromFactoryDefaultStep(context(), drive(), port()); }),
              c.passed);
    const Bytes eeprom = station->farm->eepromBytes("r1");
    if (c.passed) {
      EXPECT_TRUE(std::all_of(eeprom.begin(), eeprom.begin() + 128, [](auto b) { return b == 0; }));
    }
    EXPECT_EQ(progress(), c.progress);
    EXPECT_EQ(station->trace.lines().back(), kCloseLine);
    station.reset();
  }
}

// --- Image areas -------------------------------------------------------------------------------

struct BinaryCase {
  std::uint32_t size;
  std::uint32_t writtenBytes; // image plus the zeros of its last sector
};

TEST_F(CardSteps, BinaryImageFillsItsAreaFromSectorOne) {
  // 66048: a last chunk of exactly one sector; 70000: a partial last sector; 65536: whole chunks;
  // 0: nothing to send.
  for (const BinaryCase c : {BinaryCase{66048, 66048}, BinaryCase{70000, 70144},
                             BinaryCase{65536, 65536}, BinaryCase{300, 512}, BinaryCase{0, 0}}) {
    SCOPED_TRACE(c.size);
    start("VQ301C-A-1LUN", 3, "", identitySettings(3, "bCheckBinFile=1\r\n"));
    const std::uint32_t areaSectors = (c.size + 512 + 511) / 512;
    sizeAreas(areaSectors, 0);
    const Bytes image = pattern(c.size, 7);
    station->window->binImage = image;
    station->window->binSize = c.size;
    ASSERT_TRUE(onWorker([&] { return run::binaryAreaStep(context(), drive(), port()); }));
    Bytes expected = image;
    expected.resize(c.writtenBytes, 0);
    EXPECT_EQ(cardBytes(1, c.writtenBytes), expected);
    EXPECT_EQ(cardBytes(0, 512), Bytes(512, 0));
    EXPECT_EQ(line(), "Binary \r\nwrite pass !!");
    EXPECT_EQ(traced("WriteBin DeviceIoControl bSuccess"), (c.size + 65535) / 65536);
    EXPECT_EQ(station->trace.lines().back(), kCloseLine);
    station.reset();
  }
}

TEST_F(CardSteps, IsoImageFillsTheCdromAreaAndReportsOnTheCdromLine) {
  start("VQ301C-A-2LUN", 4, "", identitySettings(4, "bCheckAutorun=1\r\n"));
  constexpr std::uint32_t kIso = 1048576;
  sizeAreas(0, kIso / 512);
  port().lunKind[1] = station::LunKind::SizeOnly;
  const Bytes image = pattern(kIso, 3);
  station->window->isoImage = image;
  station->window->isoSize = kIso;
  ASSERT_TRUE(onWorker([&] { return run::cdromAreaStep(context(), drive(), port()); }));
  EXPECT_EQ(cardBytes(0, kIso), image); // the CD-ROM area follows an empty hidden area
  EXPECT_EQ(line(2), "Write ISO\r\nfile pass!!");
  EXPECT_EQ(progress(), 144);
  EXPECT_EQ(traced("WriteAutorun DeviceIoControl bSuccess"), 16);
}

TEST_F(CardSteps, ImageStepsFailWhenTheReaderRefusesOrTheImageDoesNotFit) {
  struct Case {
    const char* name;
    bool iso;
    std::string faults;
    std::uint32_t areaSectors; // of the area the image goes to
    std::uint32_t size;
    std::uint32_t claimedSize; // what the station says the image holds
    std::string_view shown;
  } cases[] = {
      {"iso write refused", true, R"([{"command": "WriteAutorun", "after": 1, "fault": "fail"}])",
       400, 140000, 140000, "Write ISO\r\nfile fail !!"},
      {"iso read-back corrupted", true,
       R"([{"command": "ReadAutoRun", "after": 0, "fault": "corrupt"}])", 400, 140000, 140000,
       "Write ISO\r\nfile fail !!"},
      {"binary read refused", false, R"([{"command": "ReadBin", "after": 0, "fault": "fail"}])",
       400, 140000, 140000, "Binary \r\nwrite Fail !!"},
      {"binary larger than its area", false, "", 100, 140000, 140000, "Binary \r\nwrite Fail !!"},
      {"size beyond the loaded image", false, "", 400, 1000, 70000, "Binary \r\nwrite Fail !!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    start("VQ301C-A-2LUN", 4, c.faults,
          identitySettings(4, "bCheckAutorun=1\r\nbCheckBinFile=1\r\n"));
    sizeAreas(c.iso ? 0 : c.areaSectors, c.iso ? c.areaSectors : 0);
    const Bytes image = pattern(c.size, 1);
    if (c.iso) {
      station->window->isoImage = image;
      station->window->isoSize = c.claimedSize;
    } else {
      station->window->binImage = image;
      station->window->binSize = c.claimedSize;
    }
    EXPECT_FALSE(onWorker([&] {
      return c.iso ? run::cdromAreaStep(context(), drive(), port())
                   : run::binaryAreaStep(context(), drive(), port());
    }));
    EXPECT_EQ(line(), c.shown); // no CD-ROM LUN on this reader: LUN 1's line
    EXPECT_EQ(station->trace.lines().back(), kCloseLine);
    station.reset();
  }
}

// --- Card check --------------------------------------------------------------------------------

TEST_F(CardSteps, CardCheckReadsTheCdromAreaSizeInMiB) {
  struct Case {
    std::uint32_t cdSectors;
    std::uint64_t mib;
  } cases[] = {{16384, 8}, {2047, 0}, {2048, 1}, {0, 0}};
  start("VQ301C-A-2LUN", 4);
  for (const Case& c : cases) {
    sizeAreas(0, c.cdSectors);
    EXPECT_EQ(onWorker([&] { return run::cardCheckMiB(context(), drive()); }), c.mib)
        << c.cdSectors;
    EXPECT_EQ(station->trace.lines().back(), kCloseLine);
  }
}

TEST_F(CardSteps, CardCheckOfAnUnreadableCardIsZeroWithoutRetry) {
  start("VQ301C-A-2LUN", 4, R"([{"command": "GetCapacity", "after": 2, "fault": "fail"}])");
  sizeAreas(0, 16384);
  const std::size_t before = station->trace.lines().size();
  EXPECT_EQ(onWorker([&] { return run::cardCheckMiB(context(), drive()); }), 0u);
  EXPECT_EQ(traced("GetCapacity Error Code", before), 1);
}

} // namespace
} // namespace tarvix::testing
