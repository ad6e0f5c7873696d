// The port start: the start test, then the reader opened once through a session bound to it, its
// size checked against what the run writes, the two-LUN model's LUN kinds read, and the worker
// started on the bound readers.
#include "run/production_run.h"

#include "channel/replies.h"
#include "channel/vendor_commands.h"
#include "run/reader_binding.h"
#include "run/reader_session.h"
#include "run/slot_worker.h"
#include "station/models.h"
#include "text/texts.h"

#include <string>
#include <system_error>

namespace tarvix::run {
namespace {

constexpr std::uint32_t kReserveSectors = 20480; // 10 MiB every card keeps beyond the data
constexpr std::string_view kNotEveryLun = "not every logical unit of the reader was found";
constexpr std::string_view kRefusedAtStart = "refused when its port was started";
constexpr std::string_view kProbeFoundNotReady = "the card probe did not find the reader ready";

} // namespace

ProductionRun::ProductionRun(platform::Platform& platform, station::StationState& readers,
                             SerialCounter& serials, std::shared_ptr<PortDisplay> display)
    : platform_(platform), readers_(readers), serials_(serials), display_(std::move(display)) {}

ProductionRun::~ProductionRun() { joinWorkers(); }

void ProductionRun::joinWorkers() {
  for (std::thread& worker : workers_)
    worker.join();
  workers_.clear();
}

void ProductionRun::begin(PreparedRun prepared) {
  joinWorkers(); // none is alive: every join returns at once
  prepared_ = std::move(prepared);
  std::lock_guard lock(outcomesLock_);
  outcomes_ = {};
}

StepContext ProductionRun::stepContext(int languageOffset) {
  StepContext context{platform_,        display_, readers_,      prepared_.options,
                      prepared_.images, serials_, languageOffset};
  context.closing = &closing;
  return context;
}

void ProductionRun::setOutcome(int n, PortOutcome outcome) {
  std::lock_guard lock(outcomesLock_);
  outcomes_[n - 1] = std::move(outcome);
}

PortOutcome ProductionRun::outcome(int n) const {
  std::lock_guard lock(outcomesLock_);
  return outcomes_[n - 1];
}

bool ProductionRun::portStarted(int n) const {
  std::lock_guard lock(outcomesLock_);
  const PortStage stage = outcomes_[n - 1].stage;
  return stage == PortStage::Started || stage == PortStage::Finished;
}

void ProductionRun::refuse(int n, text::PictureRole picture, std::string why, int languageOffset) {
  stepContext(languageOffset).showPicture(n, picture);
  // A port that was started keeps its outcome; a later poll only shows what it sees now.
  if (portStarted(n)) return;
  PortOutcome refused;
  refused.stage = PortStage::Refused;
  refused.picture = picture;
  refused.refusal = std::move(why);
  setOutcome(n, std::move(refused));
}

bool ProductionRun::startTest(int n, int languageOffset) {
  station::PortRecord& record = readers_.port(n);
  if (!record.ready) {
    // What the probe turned the reader down with, in the words its box shows.
    std::string why(kProbeFoundNotReady);
    for (const auto& index : record.driveIndex) {
      if (index == station::kNoDrive || readers_.driveRecords[index].probeRefusal == 0) continue;
      why =
          log::oneLine(text::localized(readers_.driveRecords[index].probeRefusal, languageOffset));
      break;
    }
    refuse(n, text::PictureRole::Fail, std::move(why), languageOffset);
    return false;
  }
  int luns = 0;
  while (luns < station::kLunsPerPort && record.driveIndex[luns] != station::kNoDrive)
    ++luns;
  const station::ModelTraits* model = station::modelTraits(prepared_.options.icType);
  if (model == nullptr) return false;
  if (luns < model->lunsAtStart) {
    refuse(n, text::PictureRole::Scan, std::string(kNotEveryLun), languageOffset);
    return false;
  }
  if (model->twoCards) {
    bool allPresent = true;
    for (const auto& index : record.driveIndex) {
      if (index != station::kNoDrive && !readers_.driveRecords[index].present) allPresent = false;
    }
    if (!allPresent) {
      for (const auto& index : record.driveIndex) {
        if (index != station::kNoDrive) readers_.driveRecords[index].present = false;
      }
      record.ready = false;
      refuse(n, text::PictureRole::Fail, std::string(kRefusedAtStart), languageOffset);
      return false;
    }
  }
  return true;
}

void ProductionRun::startPort(int n, int languageOffset) {
  if (!startTest(n, languageOffset)) return;
  station::PortRecord& record = readers_.port(n);
  if (record.busy || !record.assigned || record.done || !record.ready) return;
  const int firstIndex = record.driveIndex[0];
  station::DriveRecord& first = readers_.driveRecords[firstIndex];
  StepContext context = stepContext(languageOffset);
  ReaderBinding binding = ReaderBinding::capture(readers_, record);
  context.binding = &binding;
  std::uint32_t sectors = 0;
  std::uint32_t sectorSize = 0;
  ReaderSession m_hUSBDeviceHandle(context, firstIndex);
  {
    // A failed open or query leaves `sectors` at 0, judged below.
    (void)channel::GetCapacity(m_hUSBDeviceHandle, sectors, sectorSize,
                               static_cast<unsigned>(first.lun - 1));
    // Unsigned on purpose: a card that reports less than the reserve, or nothing, wraps around
    // and goes to its worker, which reports what is wrong with it.
    if (sectors - kReserveSectors < prepared_.neededSectors) {
      context.showText(first.slot, text::kCardTooSmall);
      first.present = false;
      refuse(n, text::PictureRole::Fail,
             log::oneLine(text::localized(text::kCardTooSmall, languageOffset)), languageOffset);
      return;
    }
    const station::ModelTraits* model = station::modelTraits(prepared_.options.icType);
    if (model != nullptr && model->cdromLun) {
      std::array<std::uint8_t, 512> configuration{};
      // Without the configuration no LUN would be known as a card, and the port would pass with
      // nothing prepared.
      if (!channel::GetVIDPID(m_hUSBDeviceHandle, channel::kQueryConfiguration, configuration)) {
        display_->showColour(first.slot, station::SlotColour::Failed);
        first.present = false;
        refuse(n, text::PictureRole::Fail, std::string(kRefusedAtStart), languageOffset);
        return;
      }
      const auto kinds = channel::decodeLunKinds(configuration);
      for (int lun = 0; lun < 3; ++lun)
        record.lunKind[lun] = static_cast<station::LunKind>(kinds[lun]);
    } else {
      for (int lun = 0; lun < station::kLunsPerPort; ++lun) {
        if (record.driveIndex[lun] != station::kNoDrive)
          record.lunKind[lun] = station::LunKind::Card;
      }
    }
    record.busy = true;
    context.showPicture(n, text::PictureRole::Busy);
  }
  // What the port start knows of the reader, for its production record.
  PortOutcome started;
  started.stage = PortStage::Started;
  started.picture = text::PictureRole::Busy;
  log::ProductionRecord& r = started.record;
  r.port = n;
  r.usbPath = first.usbPath.text();
  for (char letter : record.driveLetter) {
    if (letter == 0) continue;
    if (!r.drives.empty()) r.drives += ' ';
    r.drives += station::driveName(letter);
  }
  if (const station::ModelTraits* model = station::modelTraits(prepared_.options.icType))
    r.model = model->name;
  r.capacityMiB = (std::uint64_t{sectors} * sectorSize) >> 20;
  setOutcome(n, started);
  // The lun kinds are in the port record now: the binding takes them along.
  startWorker(n, languageOffset, std::move(started));
  // The worker opens the reader again by itself.
  m_hUSBDeviceHandle.close();
}

void ProductionRun::startWorker(int n, int languageOffset, PortOutcome started) {
  station::PortRecord& record = readers_.port(n);
  ++liveWorkers_;
  try {
    workers_.emplace_back([this, &record, context = stepContext(languageOffset),
                           binding = ReaderBinding::capture(readers_, record),
                           started = std::move(started)] {
      runSlotWorker(context, record, binding, started,
                    [this](const PortOutcome& outcome) { finished(outcome); });
      const std::function<void()> ended = [this] { --liveWorkers_; };
      if (workerEnded_) {
        workerEnded_(ended);
      } else {
        ended();
      }
    });
  } catch (const std::system_error& error) {
    // The system would not give the port a thread: that port fails, the station runs on.
    --liveWorkers_;
    platform_.trace.line(std::string("Auto Start: no thread for port ") + std::to_string(n) + ": " +
                         error.what());
    record.busy = false;
    record.done = true;
    for (int lun = 1; lun <= station::kLunsPerPort; ++lun)
      display_->showColour(station::slotNumber(n, lun), station::SlotColour::Failed);
    stepContext(languageOffset).showPicture(n, text::PictureRole::Fail);
    PortOutcome failed = outcome(n);
    failed.stage = PortStage::Finished;
    failed.picture = text::PictureRole::Fail;
    failed.record.result = log::PortResult::Fail;
    setOutcome(n, std::move(failed));
  }
}

void ProductionRun::finished(const PortOutcome& outcome) {
  setOutcome(outcome.record.port, outcome);
  // The files keep a lock of their own: one slow disk never holds up the outcomes.
  if (files_ != nullptr) files_->add(outcome.record);
}

bool ProductionRun::anyPortBusy() const {
  for (const station::PortRecord& record : readers_.ports) {
    if (record.busy) return true;
  }
  return false;
}

void ProductionRun::end() {
  if (liveWorkers_ == 0) {
    prepared_.images = {};
    joinWorkers();
  }
  for (station::PortRecord& record : readers_.ports) {
    record.done = false;
    record.cardInfoWritten = false;
  }
}

} // namespace tarvix::run
