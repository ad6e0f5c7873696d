#include "run/slot_worker.h"

#include "channel/replies.h"
#include "discovery/probe.h"
#include "platform/trace.h"
#include "run/reader_session.h"
#include "run/steps.h"
#include "station/models.h"
#include "text/pictures.h"

#include <array>

namespace tarvix::run {
namespace {

using station::LunKind;
using station::PortRecord;
using text::PictureRole;

constexpr std::uint32_t kAfterResetMs = 1000;
constexpr std::uint32_t kBeforeDefaultPassMs = 2000;

// Step names as the production log records them.
constexpr std::string_view kStepCapacityCheck = "capacity check";
constexpr std::string_view kStepLowLevelFormat = "low-level format";
constexpr std::string_view kStepCardInformation = "card information";
constexpr std::string_view kStepEepromParameters = "EEPROM parameters";
constexpr std::string_view kStepFormat = "format";
constexpr std::string_view kStepReadWriteTest = "read/write test";
constexpr std::string_view kStepAreaSizes = "area sizes";
constexpr std::string_view kStepCdromArea = "CD-ROM area";
constexpr std::string_view kStepBinaryArea = "binary area";
constexpr std::string_view kStepFormatAfterAreas = "format after areas";
constexpr std::string_view kStepCopyFiles = "copy files";
constexpr std::string_view kStepControllerReset = "controller reset";
constexpr std::string_view kStepEepromDefaults = "EEPROM factory defaults";

class Worker {
public:
  // The port's LUNs are taken as they were bound at the start: a removal pass may clear the port
  // record and the drive records while the worker still runs.
  Worker(StepContext& context, PortRecord& port, const ReaderBinding& binding, PortOutcome& outcome,
         const OutcomeSink& sink)
      : c_(context), port_(port), binding_(binding), outcome_(outcome), record_(outcome.record),
        sink_(sink), n_(port.portNumber) {
    c_.outcome = &outcome_;
    for (int lun = 1; lun <= station::kLunsPerPort; ++lun) {
      drives_[lun - 1] = binding.lun(lun).driveIndex;
      kinds_[lun - 1] = binding.lun(lun).kind;
      slots_[lun - 1] = binding.lun(lun).slot;
    }
  }

  void run() {
    c_.display->setProgressRange(n_, 0, station::kProgressMax);
    progress(0);
    if (c_.options.resetToDefault) {
      finishReset(resetSequence());
    } else {
      finishProduction(productionSequence());
    }
  }

private:
  int drive(int lun) const { return drives_[lun - 1]; }
  // A LUN takes part in the per-LUN steps when it has a drive and is a card LUN.
  bool takesPart(int lun) const {
    return drive(lun) != station::kNoDrive && slotOf(lun) != 0 && kinds_[lun - 1] == LunKind::Card;
  }
  bool anyTakesPart() const {
    for (int lun = 1; lun <= station::kLunsPerPort; ++lun) {
      if (takesPart(lun)) return true;
    }
    return false;
  }
  // The model keeps the reader's identity in its EEPROM rather than on the card.
  bool eepromModel() const {
    const station::ModelTraits* model = station::modelTraits(c_.options.icType);
    return model != nullptr && model->eeprom;
  }
  // LUN `lun`'s size, asked of the reader the worker is bound to and of no other.
  std::uint64_t boundCapacityMiB(int lun) const {
    ReaderSession m_hUSBDeviceHandle(c_, drive(lun));
    const std::uint64_t mib = discovery::capacityMiB(m_hUSBDeviceHandle, lun);
    return mib;
  }
  // The reader the worker started on is still there: nothing else may be shown as passed.
  bool readerStillThere() const { return binding_.holdsAll(c_.platform.drives, c_.state); }
  int slotOf(int lun) const { return slots_[lun - 1]; }

  void progress(int position) const { c_.display->setProgress(n_, position); }
  void picture(PictureRole role) const { c_.showPicture(n_, role); }
  void showSize(int lun, std::uint64_t mib) const {
    c_.display->showLine(slotOf(lun), std::to_string(mib) + " MB\r\n");
  }

  // Runs `step`, and notes how long it took when its option made it do anything.
  template <typename Step> bool timed(std::string_view name, bool on, Step step) {
    const std::uint64_t start = c_.platform.clock.tickMs();
    const bool passed = step();
    if (on) record_.steps.push_back({std::string(name), c_.platform.clock.tickMs() - start});
    return passed;
  }

  // Runs `step` on every taking-part LUN, moving the bar to `after[lun - 1]` after each LUN
  // (skipped ones included).
  template <typename Step> bool perLun(Step step, const std::array<int, 4>& after) {
    for (int lun = 1; lun <= station::kLunsPerPort; ++lun) {
      if (takesPart(lun) && !step(lun)) return false;
      progress(after[lun - 1]);
    }
    return true;
  }

  bool productionSequence() {
    for (int lun = 1; lun <= station::kLunsPerPort; ++lun) {
      if (slotOf(lun) == 0) continue;
      c_.display->showColour(slotOf(lun), station::SlotColour::Running);
      c_.showText(slotOf(lun), text::kStartTest);
    }
    progress(10);
    // A port none of whose LUNs takes part would otherwise pass with nothing prepared.
    if (perLunStepChecked() && !anyTakesPart()) {
      for (int lun = 1; lun <= station::kLunsPerPort; ++lun) {
        if (slotOf(lun) != 0) c_.display->showColour(slotOf(lun), station::SlotColour::Failed);
      }
      return false;
    }
    const RunOptions& o = c_.options;
    const int first = drive(1);
    const bool areas = o.binaryArea || o.cdromArea;
    const bool eeprom = eepromModel();
    auto format = [&](int lun) { return formatVolumeStep(c_, drive(lun)); };

    if (!timed(kStepCapacityCheck, o.capacityCheck, [&] {
          return perLun([&](int lun) { return capacityCheckStep(c_, drive(lun)); },
                        {10, 10, 10, 10});
        })) {
      return false;
    }
    if (!timed(kStepLowLevelFormat, o.lowLevelFormat, [&] {
          return perLun([&](int lun) { return lowLevelFormatStep(c_, drive(lun), port_, lun); },
                        {25, 40, 55, 70});
        })) {
      return false;
    }
    if (!timed(eeprom ? kStepEepromParameters : kStepCardInformation, o.writeParameter, [&] {
          return eeprom ? eepromParameterStep(c_, first, port_) : cardInformationStep(c_, first);
        })) {
      return false;
    }
    if (o.writeParameter) record_.vidPid = o.card.vid + ":" + o.card.pid;
    progress(80);
    if (!timed(kStepFormat, o.format || areas, [&] { return perLun(format, {85, 90, 95, 100}); }))
      return false;
    if (!timed(kStepReadWriteTest, o.readWriteTest, [&] {
          return perLun([&](int lun) { return readWriteTestStep(c_, drive(lun), port_, lun); },
                        {105, 110, 115, 120});
        })) {
      return false;
    }
    if (!timed(kStepAreaSizes, areas, [&] { return partitionSizeStep(c_, first); })) return false;
    progress(130);
    if (!timed(kStepCdromArea, o.cdromArea, [&] { return cdromAreaStep(c_, first, port_); }))
      return false;
    progress(145);
    if (!timed(kStepBinaryArea, o.binaryArea, [&] { return binaryAreaStep(c_, first, port_); }))
      return false;
    progress(160);
    // The areas change the public disk's size, so its file system is laid anew.
    if (areas && !timed(kStepFormatAfterAreas, true, [&] {
          return perLun(format, {170, 170, 170, 170});
        })) {
      return false;
    }
    if (!timed(kStepCopyFiles, o.copyFiles, [&] {
          return perLun([&](int lun) { return copyFilesStep(c_, drive(lun), port_, lun); },
                        {200, 200, 200, 200});
        })) {
      return false;
    }
    if (!readerStillThere()) return false;
    for (int lun = 1; lun <= station::kLunsPerPort; ++lun) {
      if (slotOf(lun) != 0) c_.display->showColour(slotOf(lun), station::SlotColour::Passed);
    }
    return true;
  }

  bool perLunStepChecked() const {
    const RunOptions& o = c_.options;
    return o.capacityCheck || o.lowLevelFormat || o.format || o.readWriteTest || o.copyFiles ||
           o.binaryArea || o.cdromArea;
  }

  void finishProduction(bool passed) {
    if (passed) {
      for (int lun = 1; lun <= station::kLunsPerPort; ++lun) {
        if (slotOf(lun) == 0) continue;
        if (kinds_[lun - 1] == LunKind::Card) {
          showSize(lun, boundCapacityMiB(lun));
        } else if (kinds_[lun - 1] == LunKind::SizeOnly) {
          showSize(lun, cardCheckMiB(c_, drive(1)));
        }
      }
      picture(PictureRole::Pass);
      finish(log::PortResult::Pass);
      end(station::kProgressMax);
      return;
    }
    picture(PictureRole::Fail);
    finish(log::PortResult::Fail);
    end(station::kProgressMax);
    blankIfReaderGone();
  }

  bool resetSequence() {
    const int first = drive(1);
    if (eepromModel()) {
      return timed(kStepEepromDefaults, true,
                   [&] { return eepromFactoryDefaultStep(c_, first, port_); });
    }
    if (!timed(kStepControllerReset, true, [&] { return controllerResetStep(c_, first, port_); }))
      return false;
    c_.platform.clock.sleepMs(kAfterResetMs);
    return timed(kStepFormat, true, [&] { return formatVolumeStep(c_, first); });
  }

  void finishReset(bool passed) {
    if (passed) {
      for (int lun = 1; lun <= station::kLunsPerPort; ++lun) {
        if (slotOf(lun) != 0 && kinds_[lun - 1] == LunKind::SizeOnly) showSize(lun, 0);
      }
      c_.platform.clock.sleepMs(kBeforeDefaultPassMs);
    }
    if (passed && readerStillThere()) {
      picture(PictureRole::DefaultPass);
      finish(log::PortResult::DefaultPass);
      end(station::kProgressMax);
      return;
    }
    picture(PictureRole::ResetFail);
    finish(log::PortResult::ResetFail);
    end(station::kProgressMax);
    blankIfReaderGone();
  }

  // Completes the port's record and hands it on before the port is marked done, so the record is
  // there when the run is seen to end. A reader gone before the end was pulled, whatever failed.
  void finish(log::PortResult result) {
    const bool passed = result == log::PortResult::Pass || result == log::PortResult::DefaultPass;
    if (!passed && !readerStillThere()) result = log::PortResult::Pulled;
    record_.result = result;
    record_.failure = passed ? std::string() : log::oneLine(record_.failure);
    record_.capacityCheck = capacityCheckText(outcome_);
    record_.time = c_.platform.clock.localTime();
    record_.host = c_.platform.system.hostName();
    outcome_.stage = PortStage::Finished;
    outcome_.picture = resultPicture(result);
    c_.outcome = nullptr;
    sink_(outcome_);
  }

  void end(int position) {
    port_.busy = false;
    port_.done = true;
    progress(position);
  }

  // A reader pulled out during the work leaves its box blank, ready for the next one.
  void blankIfReaderGone() {
    if (readerStillThere()) return;
    picture(PictureRole::Blank);
    progress(0);
  }

  StepContext& c_;
  PortRecord& port_;
  const ReaderBinding& binding_;
  PortOutcome& outcome_;
  log::ProductionRecord& record_;
  const OutcomeSink& sink_;
  const int n_;
  std::array<int, station::kLunsPerPort> drives_{};
  std::array<LunKind, station::kLunsPerPort> kinds_{};
  std::array<int, station::kLunsPerPort> slots_{};
};

} // namespace

void runSlotWorker(StepContext context, station::PortRecord& port, const ReaderBinding& binding,
                   PortOutcome outcome, const OutcomeSink& sink) {
  context.binding = &binding;
  // Every trace line of this thread names the port, through whichever layer writes it.
  const platform::TracedPortScope tracing(port.portNumber);
  Worker(context, port, binding, outcome, sink).run();
}

} // namespace tarvix::run
