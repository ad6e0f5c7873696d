// The window host's timers the station arms, each under an id of its own: at most one is pending
// per id, so two pieces sharing an id would cancel each other.
#pragma once

namespace tarvix::app {

struct WindowTimers {
  static constexpr int kPoll = 2;    // the run's two-second poll
  static constexpr int kDisplay = 3; // queued port box changes shown
};

} // namespace tarvix::app
