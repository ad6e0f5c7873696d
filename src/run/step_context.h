// What a production step works with: the platform, what it shows of its port, the shared station
// state, and the language the messages are shown in. One per worker; the step touches only its own
// port's slots.
#pragma once

#include "log/production_record.h"
#include "platform/platform.h"
#include "run/port_display.h"
#include "run/run_options.h"
#include "station/station_state.h"
#include "text/pictures.h"
#include "text/text_ids.h"

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
  station::StationState& state;         // images, serial number, records
  const RunOptions& options;            // what the run does, frozen when it was prepared
  int languageOffset = 0;
  // The readers the worker started on; none outside a worker (a step on its own in a test).
  const ReaderBinding* binding = nullptr;
  // The worker's record of its port; steps note in it the serial number they wrote and the last
  // text they showed. None outside a worker.
  log::ProductionRecord* production = nullptr;

  // Drive `driveIndex` as the worker started on it (as the drive table has it now, without a
  // binding): a removal pass may empty its record, or hand it to another reader, mid-step.
  StepDrive drive(int driveIndex) const;
  // True while drive `driveIndex` is still the reader the worker started on (always without a
  // binding).
  bool readerStillBound(int driveIndex) const;

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
