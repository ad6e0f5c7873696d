// Auto Start: prepare the run once (test count, serial, images in memory with the memory check,
// the room a card needs), lock the options, start every ready port that passes its start test and
// capacity check on a worker thread of its own, and poll every two seconds until no port is busy.
#include "app/run_controller.h"

#include "app/option_locks.h"
#include "app/window_port_display.h"
#include "channel/reader_handle.h"
#include "channel/replies.h"
#include "channel/vendor_commands.h"
#include "run/card_parameters.h"
#include "run/slot_worker.h"
#include "settings/value_rules.h"
#include "station/control_ids.h"
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

RunController::RunController(platform::Platform& platform, ui::WindowHost& host,
                             ControlModel& controls, station::StationState& state,
                             RunInputs& inputs, ProductionBook& productionBook,
                             const std::atomic<int>& languageOffset)
    : platform_(platform), host_(host), controls_(controls), state_(state), inputs_(inputs),
      productionBook_(productionBook), languageOffset_(languageOffset) {}

RunController::~RunController() { stop(); }

void RunController::stop() {
  if (host_.onWindowThread()) {
    waitForWorkers();
    host_.stopTimer(kPollTimer);
    return;
  }
  host_.runAndWait([this] { host_.stopTimer(kPollTimer); });
  for (std::thread& worker : workers_)
    worker.join();
  workers_.clear();
}

run::StepContext RunController::stepContext() {
  return {platform_, std::make_shared<WindowPortDisplay>(controls_, state_), state_, runOptions_,
          languageOffset_.load()};
}

run::RunOptions RunController::readRunOptions() const {
  run::RunOptions o;
  o.icType = state_.icType;
  o.resetToDefault = controls_.checked(id::kResetToDefault);
  o.capacityCheck = controls_.checked(id::kCapacityCheck);
  o.lowLevelFormat = controls_.checked(id::kLlf);
  o.llfSelect = state_.llfSelect;
  o.format = controls_.checked(id::kFormat);
  o.diskLabel = controls_.text(id::kDiskLabel);
  o.readWriteTest = controls_.checked(id::kReadWriteTest);
  o.rwTestCount = state_.rwTestCount;
  o.writeParameter = controls_.checked(id::kWriteParameter);
  o.increaseSerial = controls_.checked(id::kIncrease);
  run::CardParameters& card = o.card;
  card.vid = controls_.text(id::kVid);
  card.pid = controls_.text(id::kPid);
  card.manufacturer = controls_.text(id::kManufacturer);
  card.product = controls_.text(id::kProduct);
  card.diskVendor = controls_.text(id::kDiskVendor);
  card.diskProduct = controls_.text(id::kDiskProduct);
  card.cdromVendor = controls_.text(id::kCdromVendor);
  card.cdromProduct = controls_.text(id::kCdromProduct);
  card.maxPowerGiven = !controls_.text(id::kMaxPower).empty();
  card.maxPowerValue = state_.maxPowerValue;
  card.ledSpeedRow = controls_.selectedRow(id::kLedSpeed);
  o.cdromArea = controls_.checked(id::kCdromIso);
  o.isoPath = controls_.text(id::kIsoPath);
  o.binaryArea = controls_.checked(id::kBinaryFile);
  o.copyFiles = controls_.checked(id::kCopyFile);
  o.copyList = inputs_.copyList;
  return o;
}

bool RunController::memoryAllows(std::uint64_t bytes) const {
  const std::uint64_t kib = bytes >> 10;
  return kib == 0 ||
         (inputs_.availableRamKiB >= kib && inputs_.availableRamKiB - kib >= kMemoryMarginKiB);
}

void RunController::onAutoStart() {
  if (!runPrepared_ && !prepareRun()) return;
  controls_.enable(id::kAutoStop, false);
  for (int n = 1; n <= station::kPortCount; ++n) {
    if (state_.port(n).assigned && startTest(n)) startPort(n);
  }
  host_.armTimer(kPollTimer, platform_.clock.realDuration(kPollPeriodMs),
                 [this] { onPollTimer(); });
}

bool RunController::prepareRun() {
  if (liveWorkers_ > 0) {
    // The images of the last run may still be in use; they are replaced only once it is over.
    platform_.trace.line(kWorkerStillEnding);
    return false;
  }
  joinFinishedWorkers();
  state_.rwTestCount = controls_.number(id::kReadWriteCount);
  std::string serial = controls_.text(id::kSerial);
  if (serial.size() < kSerialLength) {
    serial.insert(0, kSerialLength - serial.size(), '0');
    controls_.setText(id::kSerial, serial);
  }
  state_.serialText = serial; // no worker is alive to take it
  state_.serialSaveFailed = false;
  if (!cardTextsWritable() || !loadImages() || !addCopyFileSizes()) return false;
  runOptions_ = readRunOptions();
  started_ = {};
  for (station::CapacityCheckRecord& check : state_.capacityChecks)
    check.verdict = station::CapacityVerdict::NotChecked;
  productionBook_.clear();
  runPrepared_ = true;
  applyOptionStates(controls_, OptionMoment::RunStarts);
  controls_.enable(id::kAutoStop, false);
  return true;
}

bool RunController::cardTextsWritable() {
  // The label edit takes any character; FAT does not, and fsck.fat would call the volume damaged.
  const std::string label = controls_.text(id::kDiskLabel);
  if (controls_.checked(id::kFormat) && !settings::fatLabel(label)) {
    controls_.messageBox("Disk Label \"" + label +
                         "\": a FAT volume label cannot hold it, so no run starts.");
    return false;
  }
  // Past twelve digits a serial number would be cut into one already handed out.
  const std::string serial = controls_.text(id::kSerial);
  if (controls_.checked(id::kWriteParameter) &&
      (serial.size() > run::kSerialMinimumDigits || !settings::decimalDigits(serial))) {
    controls_.messageBox("Serial Number \"" + serial +
                         "\": the card information holds twelve digits at most, so no run starts.");
    return false;
  }
  return true;
}

bool RunController::loadImages() {
  std::uint64_t bytes = 0;
  const bool reset = controls_.checked(id::kResetToDefault);
  state_.isoImage.clear();
  state_.binImage.clear();
  if (controls_.checked(id::kCdromIso) && !reset) {
    if (!takeImage(inputs_.isoPath, text::kIsoLoadFailed, 0, bytes, state_.isoImage)) return false;
    state_.isoSize = static_cast<std::uint32_t>(state_.isoImage.size());
  }
  if (controls_.checked(id::kBinaryFile) && !reset) {
    if (!takeImage(inputs_.binPath, text::kBinaryLoadFailed, kBinaryAreaExtra, bytes,
                   state_.binImage)) {
      state_.isoImage.clear();
      return false;
    }
    state_.binSize = static_cast<std::uint32_t>(state_.binImage.size());
    state_.binAreaSize = state_.binSize + kBinaryAreaExtra;
  }
  state_.neededSectors = static_cast<std::uint32_t>(bytes >> 9);
  return true;
}

bool RunController::takeImage(const std::filesystem::path& path, int failedText,
                              std::uint64_t extra, std::uint64_t& bytes,
                              std::vector<std::uint8_t>& image) {
  // Sized before anything opens it: a device or a FIFO never ends, and a file is never read
  // before the memory check has passed it.
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    controls_.messageBox(path.string() + ": not a regular file, so no run starts");
    return false;
  }
  const std::uint64_t size = std::filesystem::file_size(path, error);
  if (path.empty() || error) {
    controls_.messageBox(message(failedText));
    return false;
  }
  if (size + extra > kLargestImageBytes) {
    controls_.messageBox(path.string() +
                         ": an image of 4 GiB or more cannot be written to a card, so no "
                         "run starts");
    return false;
  }
  bytes += size + extra;
  if (!memoryAllows(bytes)) {
    controls_.messageBox(message(text::kRamTooSmall));
    return false;
  }
  auto read = readImage(path, size);
  if (!read) {
    controls_.messageBox(message(failedText));
    return false;
  }
  image = std::move(*read);
  return true;
}

bool RunController::addCopyFileSizes() {
  if (!controls_.checked(id::kCopyFile) || controls_.checked(id::kResetToDefault)) return true;
  // Paths are made absolute here, once, against the station's folder, where the copy tool runs:
  // the entry checked is the entry copied, and no path can read as one of the tool's options.
  const std::filesystem::path folder = platform_.system.executablePath().parent_path();
  const auto refuse = [&](settings::CopyRow& row) {
    row.path.clear();
    row.chosen = false;
    controls_.messageBox(message(text::kCopyFileLoadFailed));
    return false;
  };
  std::uint64_t total = 0;
  for (settings::CopyRow& row : inputs_.copyList.files) {
    if (!row.chosen) continue;
    if (!row.path.empty()) row.path = (folder / row.path).string();
    std::error_code error;
    const auto size = std::filesystem::file_size(row.path, error);
    if (error || !settings::readable(row.path)) return refuse(row);
    total += static_cast<std::uint32_t>(size);
  }
  settings::CopyRow& chosenFolder = inputs_.copyList.folder;
  if (chosenFolder.chosen) {
    if (!chosenFolder.path.empty()) chosenFolder.path = (folder / chosenFolder.path).string();
    std::error_code error;
    if (!std::filesystem::is_directory(chosenFolder.path, error)) return refuse(chosenFolder);
  }
  state_.neededSectors += static_cast<std::uint32_t>(total >> 9);
  return true;
}

bool RunController::startTest(int n) {
  station::PortRecord& record = state_.port(n);
  auto showPicture = [&](text::PictureRole role) { stepContext().showPicture(n, role); };
  if (!record.ready) {
    showPicture(text::PictureRole::Fail);
    return false;
  }
  int luns = 0;
  while (luns < station::kLunsPerPort && record.driveIndex[luns] != station::kNoDrive)
    ++luns;
  const station::ModelTraits* model = station::modelTraits(state_.icType);
  if (model == nullptr) return false;
  if (luns < model->lunsAtStart) {
    showPicture(text::PictureRole::Scan);
    return false;
  }
  if (state_.icType == station::kTwoCardModelRow) {
    bool allPresent = true;
    for (const auto& index : record.driveIndex) {
      if (index != station::kNoDrive && !state_.driveRecords[index].present) allPresent = false;
    }
    if (!allPresent) {
      for (const auto& index : record.driveIndex) {
        if (index != station::kNoDrive) state_.driveRecords[index].present = false;
      }
      record.ready = false;
      showPicture(text::PictureRole::Fail);
      return false;
    }
  }
  return true;
}

void RunController::startPort(int n) {
  station::PortRecord& record = state_.port(n);
  if (record.busy || !record.assigned || record.done || !record.ready) return;
  station::DriveRecord& first = state_.driveRecords[record.driveIndex[0]];
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
  if (sectors - kReserveSectors < state_.neededSectors) {
    stepContext().showText(first.slot, text::kCardTooSmall);
    first.present = false;
    stepContext().showPicture(n, text::PictureRole::Fail);
    return;
  }
  if (state_.icType == station::kTwoLunModelRow) {
    std::array<std::uint8_t, 512> configuration{};
    // Without the configuration no LUN would be known as a card, and the port would pass with
    // nothing prepared.
    if (!channel::GetVIDPID(m_hUSBDeviceHandle, channel::kQueryConfiguration, configuration)) {
      state_.colourOf(first.slot) = station::SlotColour::Failed;
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
  startWorker(record, run::ReaderBinding::capture(state_, record),
              startedRecord(n, std::uint64_t{sectors} * sectorSize));
  // The worker opens the reader again by itself.
  m_hUSBDeviceHandle.close();
}

log::ProductionRecord RunController::startedRecord(int n, std::uint64_t cardBytes) const {
  log::ProductionRecord started;
  started.port = n;
  const station::PortRecord& record = state_.ports[n - 1];
  started.usbPath = usbPathText(state_.driveRecords[record.driveIndex[0]].usbPath);
  for (char letter : record.driveLetter) {
    if (letter == 0) continue;
    if (!started.drives.empty()) started.drives += ' ';
    started.drives += station::driveName(letter);
  }
  if (const station::ModelTraits* model = station::modelTraits(state_.icType))
    started.model = model->name;
  started.capacityMiB = cardBytes >> 20;
  return started;
}

void RunController::startWorker(station::PortRecord& record, run::ReaderBinding binding,
                                log::ProductionRecord started) {
  ++liveWorkers_;
  try {
    workers_.emplace_back([this, &record, context = stepContext(), binding = std::move(binding),
                           started = std::move(started)] {
      run::runSlotWorker(context, record, binding, started, productionBook_);
      // What the worker showed last is in the window when the run is seen to end, and the
      // worker's end is a window event, which whoever waits for the run's end is woken by.
      host_.runAndWait([this] {
        controls_.flushDisplay();
        --liveWorkers_;
      });
    });
  } catch (const std::system_error& error) {
    // The system would not give the port a thread: that port fails, the station runs on.
    --liveWorkers_;
    platform_.trace.line(std::string("Auto Start: no thread for port ") +
                         std::to_string(record.portNumber) + ": " + error.what());
    record.busy = false;
    record.done = true;
    for (int lun = 1; lun <= station::kLunsPerPort; ++lun)
      state_.colourOf(station::slotNumber(record.portNumber, lun)) = station::SlotColour::Failed;
    stepContext().showPicture(record.portNumber, text::PictureRole::Fail);
  }
}

void RunController::joinFinishedWorkers() {
  // Called only when no worker is alive, so every join returns at once.
  for (std::thread& worker : workers_)
    worker.join();
  workers_.clear();
}

void RunController::onPollTimer() {
  host_.stopTimer(kPollTimer);
  for (const station::PortRecord& record : state_.ports) {
    if (record.busy) return onAutoStart();
  }
  runPrepared_ = false;
  {
    // Workers hold the lock only to take and save a serial number, never across a call to this
    // thread, so waiting for it here is short.
    std::lock_guard lock(state_.stationLock);
    controls_.setText(id::kSerial, state_.serialText);
  }
  if (liveWorkers_ == 0) {
    state_.isoImage.clear();
    state_.binImage.clear();
    joinFinishedWorkers();
  }
  for (station::PortRecord& record : state_.ports) {
    record.done = false;
    record.cardInfoWritten = false;
  }
  applyOptionStates(controls_, OptionMoment::RunEnds);
}

bool RunController::runEnded() const { return !runPrepared_ && liveWorkers_ == 0; }

void RunController::waitForWorkers() {
  // Workers reach the window through it, so the window keeps serving them while it waits.
  while (liveWorkers_ > 0)
    host_.runPending(std::chrono::milliseconds(20));
  joinFinishedWorkers();
  controls_.flushDisplay();
}

} // namespace tarvix::app
