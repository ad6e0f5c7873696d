// What a production step works with: the platform, what it shows of its port, the drive table and
// port records, the run's options, images and serial number series, and the language the messages
// are shown in. One per worker; the step touches only its own port's slots.
#pragma once

#include "platform/platform.h"
#include "run/port_display.h"
#include "run/port_outcome.h"
#include "run/prepare_run.h"
#include "run/run_options.h"
#include "run/serial_counter.h"
#include "station/station_state.h"
#include "text/pictures.h"
#include "text/text_ids.h"

#include <atomic>
#include <memory>
#include <string>

namespace tarvix::run {

class ReaderBinding;

// A drive as a step sees it: where it shows its results and which LUN it talks to.
struct StepDrive {
  int slot = 0;
  int lun = 0; // 1-4
};

struct StepContext {
  platform::Platform& platform;
  std::shared_ptr<PortDisplay> display; // what steps show, and their message boxes
  station::StationState& state;         // the drive table and port records
  const RunOptions& options;            // what the run does, frozen when it was prepared
  const LoadedImages& images;           // the run's images, read once when it was prepared
  SerialCounter& serials;               // where serial numbers are taken from
  int languageOffset = 0;
  // Set when the station closes: work that waits on something outside (the copy tool) stops.
  const std::atomic<bool>* closing = nullptr;
  // The readers the worker started on; none outside a worker (a step on its own in a test).
  const ReaderBinding* binding = nullptr;
  // The worker's outcome of its port; steps note in it the serial number they wrote, the last
  // text they showed and what the capacity check found. None outside a worker.
  PortOutcome* outcome = nullptr;

  // Drive `driveIndex` as the worker started on it (as the drive table has it now, without a
  // binding): a removal pass may empty its record, or hand it to another reader, mid-step.
  StepDrive drive(int driveIndex) const;
  // True while drive `driveIndex` is still the reader the worker started on (always without a
  // binding).
  bool readerStillBound(int driveIndex) const;

  // What the capacity check found on LUN `lun` (1-4), noted in the worker's outcome.
  void noteCapacityCheck(int lun, station::CapacityVerdict verdict, std::uint32_t realMiB) const;
  // True once the station is closing.
  bool closingNow() const { return closing != nullptr && closing->load(); }

  // Shows English text `englishId` in the current language on the slot's result line.
  void showText(int slot, text::TextId englishId) const;
  // Shows a failure: the text, and the slot turns red.
  void showFailure(int slot, text::TextId englishId) const;
  // The same for a text already in the shown language, or one the station shows in every
  // language alike.
  void showFailure(int slot, const std::string& shown) const;
  // Shows the status picture of `role` in port box `port`, in the current language.
  void showPicture(int port, text::PictureRole role) const;
};

} // namespace tarvix::run
