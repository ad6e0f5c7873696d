// One step's use of its reader. The session opens drive `driveIndex` only while it is still the
// reader the worker started on, checked before and after the open; otherwise it is left failed,
// so every command on it fails and traces as on a pulled reader and the step goes down its own
// failure path. It closes when the step ends, or at close() where a step must let go earlier.
#pragma once

#include "channel/reader_handle.h"
#include "run/step_context.h"

namespace tarvix::run {

class ReaderSession final : public channel::ReaderHandleHolder {
public:
  ReaderSession(const StepContext& context, int driveIndex);

  // The open reached the bound reader.
  [[nodiscard]] bool opened() const { return opened_; }

private:
  bool opened_ = false;
};

} // namespace tarvix::run
