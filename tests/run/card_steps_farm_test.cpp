// The identity and image-area steps on the simulated farm's strict readers: what lands on the
// card and in the EEPROM is compared byte for byte with the layouts, and the failure paths are
// reached through the farm's faults.
#include "channel/reader_handle.h"
#include "channel/vendor_commands.h"
#include "run/card_parameters.h"
#include "run/step_fixture.h"
#include "support/temp_dir.h"

#include <set>

namespace tarvix::run_test {
namespace {

constexpr int kCardSectors = 32768; // 16 MiB
constexpr std::string_view kInfoPassed = "Information\r\nwrite pass!!";
constexpr std::string_view kEepromFailed = "EEPROM \r\nWrite Error\r\n";
constexpr int kRowVq301cA2Lun = 4;
constexpr int kRowVq348 = 8;

class CardSteps : public StepOnFarm {
protected:
  // A reader whose run writes the card information, the first serial number being 41.
  void startReader(const std::string& model, int icType, const std::string& faults = "") {
    start(R"("cardSectors": )" + std::to_string(kCardSectors) +
              (faults.empty() ? "" : R"(, "faults": [)" + faults + "]"),
          model, icType);
    options.writeParameter = true;
    options.increaseSerial = true;
    options.card = runParameters();
    options.card.serial.clear();
  }
  // The parameters startReader's run writes, with the first serial number.
  static run::CardParameters runParameters() {
    return {"1B2C", "0042", "Acme", "Reader", "000000000041", "ACME", "Disk", "ACMECD",
            "Rom",  true,   100,    1};
  }
  bool cardInformation() {
    return onWorker([&] { return run::cardInformationStep(context(), drive()); });
  }
  bool eepromParameters() {
    return onWorker([&] { return run::eepromParameterStep(context(), drive(), port()); });
  }
  // Sizes the hidden binary and CD-ROM areas as the partition-size step would.
  void sizeAreas(std::uint32_t binSectors, std::uint32_t cdSectors) {
    channel::ReaderHandleHolder holder(farm->readerAccess(), trace);
    const char letter = farm->letters("r1").at(0);
    ASSERT_TRUE(channel::GetUSBDeviceHandle(holder, station::driveName(letter), farm->clock()));
    ASSERT_TRUE(channel::SetBinAreaSize(holder, binSectors));
    ASSERT_TRUE(channel::SetCDRomSize(holder, cdSectors));
    ASSERT_TRUE(channel::ReInitialCard(holder));
  }
  int finalProgress() {
    const auto positions = progress();
    return positions.empty() ? 0 : positions.back();
  }
};

Bytes pattern(std::size_t size, unsigned seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i)
    out[i] = static_cast<std::uint8_t>((i * 131 + seed + i / 512) & 0xFF);
  return out;
}

// --- Card information and serial numbers --------------------------------------------------------

TEST_F(CardSteps, CardInformationWritesTheBlockIntoTheLastSectorOnce) {
  startReader("VQ301C-A-1LUN", kRowVq301cA1Lun);
  ASSERT_TRUE(cardInformation());
  const run::SectorImage expected = run::cardInformationSector(runParameters());
  EXPECT_EQ(readImage((kCardSectors - 1) * 512, 512), Bytes(expected.begin(), expected.end()));
  EXPECT_EQ(line(), kInfoPassed);
  EXPECT_TRUE(port().cardInfoWritten);
  EXPECT_EQ(serials.next(), "000000000042");
  EXPECT_EQ(controls->texts(station::id::kSerial).back(), "000000000041");
  EXPECT_EQ(lastTrace(), kClosed);
  EXPECT_EQ(colour(), station::SlotColour::Idle);

  // Written already: nothing is sent and no serial number is spent.
  trace.clear();
  ASSERT_TRUE(cardInformation());
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_EQ(line(), kInfoPassed);
  EXPECT_EQ(serials.next(), "000000000042");
}

// Written or not, the block leaves the area sizes of the layout in force.
TEST_F(CardSteps, CardInformationKeepsTheAreaSizesAndShowsItsFailures) {
  const std::string faults[] = {
      "",
      fault("ReadCard", 0, "fail"),
      fault("ReadCard", 1, "corrupt"),
      fault("WriteCard", 1, "fail"),
      // The scan reads the capacity once; then the card stops answering.
      fault("GetCapacity", 1, "fail"),
      fault("WriteCard", 0, "pull"),
  };
  for (const std::string& f : faults) {
    SCOPED_TRACE(f);
    startReader("VQ301C-A-1LUN", kRowVq301cA1Lun, f);
    sizeAreas(3, 5);
    EXPECT_EQ(cardInformation(), f.empty());
    EXPECT_EQ(lines().back(), f.empty() ? kInfoPassed : "Information\r\nwrite fail!!");
    EXPECT_EQ(port().cardInfoWritten, f.empty());
    EXPECT_EQ(lastTrace(), kClosed);
    EXPECT_EQ(readImage((kCardSectors - 1) * 512 + 8, 8), (Bytes{0, 0, 0, 3, 0, 0, 0, 5}));
  }
}

TEST_F(CardSteps, ConcurrentWorkersNeverShareASerialNumberAndWithoutIncreaseAllShareOne) {
  startReader("VQ301C-A-1LUN", kRowVq301cA1Lun);
  constexpr int kWorkers = 21;
  std::vector<std::string> taken(kWorkers);
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i)
    workers.emplace_back([&, i] { taken[i] = run::takeSerialNumber(context()).value_or(""); });
  for (auto& w : workers)
    w.join();
  std::set<std::string> expected;
  for (int n = 41; n < 41 + kWorkers; ++n)
    expected.insert(run::nextSerialText(std::to_string(n - 1)));
  EXPECT_EQ(std::set<std::string>(taken.begin(), taken.end()), expected);
  EXPECT_EQ(serials.next(), "000000000062");
  // Without Increase every card gets the same number.
  options.increaseSerial = false;
  EXPECT_EQ(onWorker([&] { return run::takeSerialNumber(context()); }).value_or(""),
            "000000000062");
  EXPECT_EQ(serials.next(), "000000000062");
}

TEST_F(CardSteps, TheNextSerialNumberIsSavedBeforeACardGetsOne) {
  // A serial number that cannot be saved first, or written whole, reaches no card: after a crash
  // it would be handed out again.
  struct Case {
    const char* name;
    std::string serial;
    bool folderGone;
    bool passes;
    const char* saved; // szSerialNum in the settings file afterwards
    const char* next;  // serialText afterwards
  };
  const Case cases[] = {
      {"saved", "000000000041", false, true, "000000000042", "000000000042"},
      {"save fails", "000000000041", true, false, "", "000000000041"},
      {"thirteen digits", "1000000000000", false, false, "", "1000000000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    startReader("VQ301C-A-1LUN", kRowVq301cA1Lun);
    const auto file = dir->path() / (c.folderGone ? "gone/TarvixValue.ini" : "TarvixValue.ini");
    serials.keepIn(file);
    serials.startFrom(c.serial);
    EXPECT_EQ(cardInformation(), c.passes);
    EXPECT_EQ(serials.next(), c.next);
    if (c.passes) {
      EXPECT_NE(testing::readFile(file).find(std::string("szSerialNum=") + c.saved + "\r\n"),
                std::string::npos);
      continue;
    }
    EXPECT_EQ(line(), "Information\r\nwrite fail!!");
    EXPECT_EQ(readImage((kCardSectors - 1) * 512, 512), Bytes(512, 0));
    EXPECT_FALSE(cardInformation()); // a second port of the run: no second message box
    EXPECT_EQ(controls->boxes().size(), c.folderGone ? 1u : 0u);
    EXPECT_TRUE(std::ranges::any_of(
        trace.lines(), [](const std::string& l) { return l.starts_with("serial number: "); }));
  }
}

// --- EEPROM ------------------------------------------------------------------------------------

TEST_F(CardSteps, EepromParameterFailuresShowTheWriteError) {
  for (const std::string& f : {fault("WriteEEPROM", 0, "fail"), fault("ReadEEPROM", 0, "fail"),
                               fault("ReadEEPROM", 0, "corrupt")}) {
    SCOPED_TRACE(f);
    startReader("VQ348", kRowVq348, f);
    EXPECT_FALSE(eepromParameters());
    EXPECT_EQ(line(), kEepromFailed);
    EXPECT_EQ(lastTrace(), kClosed);
  }
}

// The parameter image lands first, so that the factory default has something to clear.
TEST_F(CardSteps, EepromParameterImageLandsAndFactoryDefaultClearsItOrStopsWhereItFails) {
  struct Case {
    std::string faults;
    int progress;
    bool passed = false;
  } cases[] = {
      {"", 180, true},
      {fault("WriteEEPROM", 1, "fail"), 10},
      {fault("ReadEEPROM", 1, "fail"), 120},
      {fault("ReadEEPROM", 1, "corrupt"), 180},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    startReader("VQ348", kRowVq348, c.faults);
    ASSERT_TRUE(eepromParameters());
    const run::SectorImage image = run::eepromParameterImage(runParameters());
    const Bytes landed = farm->eepromBytes("r1");
    ASSERT_GE(landed.size(), run::kEepromImageLength);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + run::kEepromImageLength, landed.begin()));
    EXPECT_EQ(line(), "EEPROM \r\nWrite Sucess");
    EXPECT_FALSE(port().cardInfoWritten); // this step never sets it
    EXPECT_EQ(onWorker([&] { return run::eepromFactoryDefaultStep(context(), drive(), port()); }),
              c.passed);
    const Bytes eeprom = farm->eepromBytes("r1");
    if (c.passed) {
      EXPECT_TRUE(allEqual(Bytes(eeprom.begin(), eeprom.begin() + 128), 0));
    }
    EXPECT_EQ(finalProgress(), c.progress);
    EXPECT_EQ(lastTrace(), kClosed);
  }
}

// --- Image areas -------------------------------------------------------------------------------

TEST_F(CardSteps, BinaryImageFillsItsAreaFromSectorOne) {
  struct Case {
    std::uint32_t size;
    std::uint32_t writtenBytes; // image plus the zeros of its last sector
  } cases[] = {
      {66048, 66048},         // a last chunk of exactly one sector
      {70000, 70144},         // a partial last sector
      {65536, 65536},         // whole chunks
      {300, 512},     {0, 0}, // nothing to send
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    startReader("VQ301C-A-1LUN", kRowVq301cA1Lun);
    options.binaryArea = true;
    sizeAreas((c.size + 512 + 511) / 512, 0);
    const Bytes image = pattern(c.size, 7);
    images.binary = image;
    images.binSize = c.size;
    ASSERT_TRUE(onWorker([&] { return run::binaryAreaStep(context(), drive(), port()); }));
    Bytes expected = image;
    expected.resize(c.writtenBytes, 0);
    EXPECT_EQ(readImage(512, c.writtenBytes), expected);
    EXPECT_EQ(readImage(0, 512), Bytes(512, 0));
    EXPECT_EQ(line(), "Binary \r\nwrite pass !!");
    EXPECT_EQ(traced("WriteBin DeviceIoControl bSuccess", true), (c.size + 65535) / 65536);
    EXPECT_EQ(lastTrace(), kClosed);
  }
}

TEST_F(CardSteps, IsoImageFillsTheCdromAreaAndReportsOnTheCdromLine) {
  startReader("VQ301C-A-2LUN", kRowVq301cA2Lun);
  options.cdromArea = true;
  constexpr std::uint32_t kIso = 1048576;
  sizeAreas(0, kIso / 512);
  port().lunKind[1] = station::LunKind::SizeOnly;
  const Bytes image = pattern(kIso, 3);
  images.iso = image;
  images.isoSize = kIso;
  ASSERT_TRUE(onWorker([&] { return run::cdromAreaStep(context(), drive(), port()); }));
  EXPECT_EQ(readImage(0, kIso), image); // the CD-ROM area follows an empty hidden area
  EXPECT_EQ(line(2), "Write ISO\r\nfile pass!!");
  EXPECT_EQ(finalProgress(), 144);
  EXPECT_EQ(traced("WriteAutorun DeviceIoControl bSuccess", true), 16);
}

TEST_F(CardSteps, ImageStepsFailWhenTheReaderRefusesOrTheImageDoesNotFit) {
  struct Case {
    const char* name;
    bool iso;
    std::string faults;
    std::uint32_t areaSectors; // of the area the image goes to
    std::uint32_t size;
    std::uint32_t claimedSize; // what the station says the image holds
  } cases[] = {
      {"iso write refused", true, fault("WriteAutorun", 1, "fail"), 400, 140000, 140000},
      {"iso read-back corrupted", true, fault("ReadAutoRun", 0, "corrupt"), 400, 140000, 140000},
      {"binary read refused", false, fault("ReadBin", 0, "fail"), 400, 140000, 140000},
      {"binary larger than its area", false, "", 100, 140000, 140000},
      {"size beyond the loaded image", false, "", 400, 1000, 70000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    startReader("VQ301C-A-2LUN", kRowVq301cA2Lun, c.faults);
    options.cdromArea = options.binaryArea = true;
    sizeAreas(c.iso ? 0 : c.areaSectors, c.iso ? c.areaSectors : 0);
    (c.iso ? images.iso : images.binary) = pattern(c.size, 1);
    (c.iso ? images.isoSize : images.binSize) = c.claimedSize;
    EXPECT_FALSE(onWorker([&] {
      return c.iso ? run::cdromAreaStep(context(), drive(), port())
                   : run::binaryAreaStep(context(), drive(), port());
    }));
    // No CD-ROM LUN on this reader: LUN 1's line.
    EXPECT_EQ(line(), c.iso ? "Write ISO\r\nfile fail !!" : "Binary \r\nwrite Fail !!");
    EXPECT_EQ(lastTrace(), kClosed);
  }
}

// --- Card check --------------------------------------------------------------------------------

TEST_F(CardSteps, CardCheckReadsTheCdromAreaSizeInMiB) {
  startReader("VQ301C-A-2LUN", kRowVq301cA2Lun);
  const std::pair<std::uint32_t, std::uint64_t> cases[] = {
      {16384, 8}, {2047, 0}, {2048, 1}, {0, 0}};
  for (const auto& [cdSectors, mib] : cases) {
    sizeAreas(0, cdSectors);
    EXPECT_EQ(onWorker([&] { return run::cardCheckMiB(context(), drive()); }), mib) << cdSectors;
    EXPECT_EQ(lastTrace(), kClosed);
  }
  // An unreadable card checks as zero, without retrying.
  startReader("VQ301C-A-2LUN", kRowVq301cA2Lun, fault("GetCapacity", 1, "fail"));
  sizeAreas(0, 16384);
  trace.clear();
  EXPECT_EQ(onWorker([&] { return run::cardCheckMiB(context(), drive()); }), 0u);
  EXPECT_EQ(traced("GetCapacity Error Code", true), 1);
}

} // namespace
} // namespace tarvix::run_test
