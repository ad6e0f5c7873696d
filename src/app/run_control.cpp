// Auto Start: prepare the run once (test count, serial, images in memory with the memory check,
// the room a card needs), lock the options, start every ready port that passes its start test and
// capacity check on a worker thread of its own, and poll every two seconds until no port is busy.
#include "app/station_window.h"
#include "app/window_port_display.h"
#include "channel/reader_handle.h"
#include "channel/replies.h"
#include "channel/vendor_commands.h"
#include "run/slot_worker.h"
#include "station/models.h"
#include "text/pictures.h"
#include "text/texts.h"

#include <fstream>
#include <system_error>

namespace tarvix::app {
namespace {

constexpr std::uint32_t kPollPeriodMs = 2000;
constexpr std::uint32_t kReserveSectors = 20480; // 10 MiB every card keeps beyond the data
constexpr std::uint64_t kMemoryMarginKiB = 51200;
constexpr std::size_t kSerialLength = 12;
constexpr std::string_view kWorkerStillEnding =
    "Auto Start: a worker of the last run is still ending; press Auto Start again";

std::string message(int id) { return std::string(*text::lookup(id)); }

// The card information keeps image sizes in 32 bits; a larger image would be cut and pass.
constexpr std::uint64_t kLargestImageBytes = 0xFFFFFFFFu;
constexpr std::uint32_t kBinaryAreaExtra = 512;

// Exactly `size` bytes of `path`, read once into one allocation; nothing when it cannot.
std::optional<std::vector<std::uint8_t>> readImage(const std::filesystem::path& path,
                                                   std::uint64_t size) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes(size);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  if (static_cast<std::uint64_t>(in.gcount()) != size) return std::nullopt;
  return bytes;
}

} // namespace

run::StepContext StationWindow::stepContext() {
  return {platform_, std::make_shared<WindowPortDisplay>(*this, *this), *this, runOptions_,
          languageOffset_.load()};
}

run::RunOptions StationWindow::readRunOptions() const {
  run::RunOptions o;
  o.icType = icType;
  o.resetToDefault = checked(id::kResetToDefault);
  o.capacityCheck = checked(id::kCapacityCheck);
  o.lowLevelFormat = checked(id::kLlf);
  o.llfSelect = llfSelect;
  o.format = checked(id::kFormat);
  o.diskLabel = text(id::kDiskLabel);
  o.readWriteTest = checked(id::kReadWriteTest);
  o.rwTestCount = rwTestCount;
  o.writeParameter = checked(id::kWriteParameter);
  o.increaseSerial = checked(id::kIncrease);
  run::CardParameters& card = o.card;
  card.vid = text(id::kVid);
  card.pid = text(id::kPid);
  card.manufacturer = text(id::kManufacturer);
  card.product = text(id::kProduct);
  card.diskVendor = text(id::kDiskVendor);
  card.diskProduct = text(id::kDiskProduct);
  card.cdromVendor = text(id::kCdromVendor);
  card.cdromProduct = text(id::kCdromProduct);
  card.maxPowerGiven = !text(id::kMaxPower).empty();
  card.maxPowerValue = maxPowerValue;
  card.ledSpeedRow = selectedRow(id::kLedSpeed);
  o.cdromArea = checked(id::kCdromIso);
  o.isoPath = text(id::kIsoPath);
  o.binaryArea = checked(id::kBinaryFile);
  o.copyFiles = checked(id::kCopyFile);
  o.copyList = copyList;
  return o;
}

bool StationWindow::memoryAllows(std::uint64_t bytes) const {
  const std::uint64_t kib = bytes >> 10;
  return kib == 0 || (availableRamKiB >= kib && availableRamKiB - kib >= kMemoryMarginKiB);
}

void StationWindow::onAutoStart() {
  if (!runPrepared && !prepareRun()) return;
  enable(id::kAutoStop, false);
  for (int n = 1; n <= station::kPortCount; ++n) {
    if (port(n).assigned && startTest(n)) startPort(n);
  }
  host_.armTimer(kPollTimer, platform_.clock.realDuration(kPollPeriodMs),
                 [this] { onPollTimer(); });
}

bool StationWindow::prepareRun() {
  if (liveWorkers_ > 0) {
    // The images of the last run may still be in use; they are replaced only once it is over.
    platform_.trace.line(kWorkerStillEnding);
    return false;
  }
  joinFinishedWorkers();
  rwTestCount = number(id::kReadWriteCount);
  std::string serial = text(id::kSerial);
  if (serial.size() < kSerialLength) {
    serial.insert(0, kSerialLength - serial.size(), '0');
    setText(id::kSerial, serial);
  }
  serialText = serial; // no worker is alive to take it
  serialSaveFailed = false;
  if (!cardTextsWritable() || !loadImages() || !addCopyFileSizes()) return false;
  runOptions_ = readRunOptions();
  started_ = {};
  for (station::CapacityCheckRecord& check : capacityChecks)
    check.verdict = station::CapacityVerdict::NotChecked;
  productionBook.clear();
  runPrepared = true;
  applyOptionStates(OptionMoment::RunStarts);
  enable(id::kAutoStop, false);
  return true;
}

bool StationWindow::loadImages() {
  std::uint64_t bytes = 0;
  const bool reset = checked(id::kResetToDefault);
  isoImage.clear();
  binImage.clear();
  if (checked(id::kCdromIso) && !reset) {
    if (!takeImage(isoPath, text::kIsoLoadFailed, 0, bytes, isoImage)) return false;
    isoSize = static_cast<std::uint32_t>(isoImage.size());
  }
  if (checked(id::kBinaryFile) && !reset) {
    if (!takeImage(binPath, text::kBinaryLoadFailed, kBinaryAreaExtra, bytes, binImage)) {
      isoImage.clear();
      return false;
    }
    binSize = static_cast<std::uint32_t>(binImage.size());
    binAreaSize = binSize + kBinaryAreaExtra;
  }
  neededSectors = static_cast<std::uint32_t>(bytes >> 9);
  return true;
}

bool StationWindow::takeImage(const std::filesystem::path& path, int failedText,
                              std::uint64_t extra, std::uint64_t& bytes,
                              std::vector<std::uint8_t>& image) {
  // Sized before anything opens it: a device or a FIFO never ends, and a file is never read
  // before the memory check has passed it.
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    messageBox(path.string() + ": not a regular file, so no run starts");
    return false;
  }
  const std::uint64_t size = std::filesystem::file_size(path, error);
  if (path.empty() || error) {
    messageBox(message(failedText));
    return false;
  }
  if (size + extra > kLargestImageBytes) {
    messageBox(path.string() + ": an image of 4 GiB or more cannot be written to a card, so no "
                               "run starts");
    return false;
  }
  bytes += size + extra;
  if (!memoryAllows(bytes)) {
    messageBox(message(text::kRamTooSmall));
    return false;
  }
  auto read = readImage(path, size);
  if (!read) {
    messageBox(message(failedText));
    return false;
  }
  image = std::move(*read);
  return true;
}

bool StationWindow::addCopyFileSizes() {
  if (!checked(id::kCopyFile) || checked(id::kResetToDefault)) return true;
  // Paths are made absolute here, once, against the station's folder, where the copy tool runs:
  // the entry checked is the entry copied, and no path can read as one of the tool's options.
  const std::filesystem::path folder = platform_.system.executablePath().parent_path();
  const auto refuse = [&](settings::CopyRow& row) {
    row.path.clear();
    row.chosen = false;
    messageBox(message(text::kCopyFileLoadFailed));
    return false;
  };
  std::uint64_t total = 0;
  for (settings::CopyRow& row : copyList.files) {
    if (!row.chosen) continue;
    if (!row.path.empty()) row.path = (folder / row.path).string();
    std::error_code error;
    const auto size = std::filesystem::file_size(row.path, error);
    if (error || !settings::readable(row.path)) return refuse(row);
    total += static_cast<std::uint32_t>(size);
  }
  settings::CopyRow& chosenFolder = copyList.folder;
  if (chosenFolder.chosen) {
    if (!chosenFolder.path.empty()) chosenFolder.path = (folder / chosenFolder.path).string();
    std::error_code error;
    if (!std::filesystem::is_directory(chosenFolder.path, error)) return refuse(chosenFolder);
  }
  neededSectors += static_cast<std::uint32_t>(total >> 9);
  return true;
}

bool StationWindow::startTest(int n) {
  station::PortRecord& record = port(n);
  auto showPicture = [&](text::PictureRole role) { stepContext().showPicture(n, role); };
  if (!record.ready) {
    showPicture(text::PictureRole::Fail);
    return false;
  }
  int luns = 0;
  while (luns < station::kLunsPerPort && record.driveIndex[luns] != station::kNoDrive)
    ++luns;
  const station::ModelTraits* model = station::modelTraits(icType);
  if (model == nullptr) return false;
  if (luns < model->lunsAtStart) {
    showPicture(text::PictureRole::Scan);
    return false;
  }
  if (icType == station::kTwoCardModelRow) {
    bool allPresent = true;
    for (const auto& index : record.driveIndex) {
      if (index != station::kNoDrive && !driveRecords[index].present) allPresent = false;
    }
    if (!allPresent) {
      for (const auto& index : record.driveIndex) {
        if (index != station::kNoDrive) driveRecords[index].present = false;
      }
      record.ready = false;
      showPicture(text::PictureRole::Fail);
      return false;
    }
  }
  return true;
}

void StationWindow::startPort(int n) {
  station::PortRecord& record = port(n);
  if (record.busy || !record.assigned || record.done || !record.ready) return;
  station::DriveRecord& first = driveRecords[record.driveIndex[0]];
  channel::ReaderHandleHolder m_hUSBDeviceHandle(platform_.readers, platform_.trace);
  // Either failing leaves `sectors` at 0, judged below.
  (void)channel::GetUSBDeviceHandle(m_hUSBDeviceHandle, station::driveName(first.letter),
                                    platform_.clock);
  std::uint32_t sectors = 0;
  std::uint32_t sectorSize = 0;
  (void)channel::GetCapacity(m_hUSBDeviceHandle, sectors, sectorSize,
                             static_cast<unsigned>(first.lun - 1));
  // Unsigned on purpose: a card that reports less than the reserve, or nothing, wraps around and
  // goes to its worker, which reports what is wrong with it.
  if (sectors - kReserveSectors < neededSectors) {
    stepContext().showText(first.slot, text::kCardTooSmall);
    first.present = false;
    stepContext().showPicture(n, text::PictureRole::Fail);
    return;
  }
  if (icType == station::kTwoLunModelRow) {
    std::array<std::uint8_t, 512> configuration{};
    // Without the configuration no LUN would be known as a card, and the port would pass with
    // nothing prepared.
    if (!channel::GetVIDPID(m_hUSBDeviceHandle, channel::kQueryConfiguration, configuration)) {
      colourOf(first.slot) = station::SlotColour::Failed;
      first.present = false;
      stepContext().showPicture(n, text::PictureRole::Fail);
      return;
    }
    const auto kinds = channel::decodeLunKinds(configuration);
    for (int lun = 0; lun < 3; ++lun)
      record.lunKind[lun] = static_cast<station::LunKind>(kinds[lun]);
  } else {
    for (int lun = 0; lun < station::kLunsPerPort; ++lun) {
      if (record.driveIndex[lun] != station::kNoDrive) record.lunKind[lun] = station::LunKind::Card;
    }
  }
  record.busy = true;
  started_[n - 1] = true;
  stepContext().showPicture(n, text::PictureRole::Busy);
  m_hUSBDeviceHandle.close();
  startWorker(record, run::ReaderBinding::capture(*this, record),
              startedRecord(n, std::uint64_t{sectors} * sectorSize));
}

log::ProductionRecord StationWindow::startedRecord(int n, std::uint64_t cardBytes) const {
  log::ProductionRecord started;
  started.port = n;
  const station::PortRecord& record = ports[n - 1];
  started.usbPath = usbPathText(driveRecords[record.driveIndex[0]].usbPath);
  for (char letter : record.driveLetter) {
    if (letter == 0) continue;
    if (!started.drives.empty()) started.drives += ' ';
    started.drives += station::driveName(letter);
  }
  if (const station::ModelTraits* model = station::modelTraits(icType)) started.model = model->name;
  started.capacityMiB = cardBytes >> 20;
  return started;
}

void StationWindow::startWorker(station::PortRecord& record, run::ReaderBinding binding,
                                log::ProductionRecord started) {
  ++liveWorkers_;
  try {
    workers_.emplace_back([this, &record, context = stepContext(), binding = std::move(binding),
                           started = std::move(started)] {
      run::runSlotWorker(context, record, binding, started, productionBook);
      // What the worker showed last is in the window when the run is seen to end.
      host_.runAndWait([this] { flushDisplay(); });
      --liveWorkers_;
    });
  } catch (const std::system_error& error) {
    // The system would not give the port a thread: that port fails, the station runs on.
    --liveWorkers_;
    platform_.trace.line(std::string("Auto Start: no thread for port ") +
                         std::to_string(record.portNumber) + ": " + error.what());
    record.busy = false;
    record.done = true;
    for (int lun = 1; lun <= station::kLunsPerPort; ++lun)
      colourOf(station::slotNumber(record.portNumber, lun)) = station::SlotColour::Failed;
    stepContext().showPicture(record.portNumber, text::PictureRole::Fail);
  }
}

void StationWindow::joinFinishedWorkers() {
  // Called only when no worker is alive, so every join returns at once.
  for (std::thread& worker : workers_)
    worker.join();
  workers_.clear();
}

void StationWindow::onPollTimer() {
  host_.stopTimer(kPollTimer);
  for (const station::PortRecord& record : ports) {
    if (record.busy) return onAutoStart();
  }
  runPrepared = false;
  {
    // Workers hold the lock only to take and save a serial number, never across a call to this
    // thread, so waiting for it here is short.
    std::lock_guard lock(stationLock);
    setText(id::kSerial, serialText);
  }
  if (liveWorkers_ == 0) {
    isoImage.clear();
    binImage.clear();
    joinFinishedWorkers();
  }
  for (station::PortRecord& record : ports) {
    record.done = false;
    record.cardInfoWritten = false;
  }
  applyOptionStates(OptionMoment::RunEnds);
}

bool StationWindow::runEnded() const { return !runPrepared && liveWorkers_ == 0; }

void StationWindow::waitForWorkers() {
  // Workers reach the window through it, so the window keeps serving them while it waits.
  while (liveWorkers_ > 0)
    host_.runPending(std::chrono::milliseconds(20));
  joinFinishedWorkers();
  flushDisplay();
}

} // namespace tarvix::app
