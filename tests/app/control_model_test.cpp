// The control records alone: what other threads change is carried out on the window thread, the
// workers' port box changes are coalesced, and an id the window lacks is a fault.
#include "app/control_model.h"
#include "app/control_table.h"
#include "station/numbering.h"
#include "ui/headless/headless_host.h"

#include <gtest/gtest.h>

#include <thread>

namespace tarvix::app {
namespace {

using namespace station;

class Controls : public ::testing::Test {
protected:
  template <typename Body> void onWindow(Body&& body) { host.runAndWait(body); }

  ui::HeadlessHost host;
  ControlModel model{host, initialControls()};
};

TEST_F(Controls, WorkersChangeControlsThroughTheWindowThread) {
  std::vector<std::thread> workers;
  for (int port = 1; port <= kPortCount; ++port) {
    workers.emplace_back([&, port] {
      for (int step = 0; step <= kProgressMax; step += 20) {
        model.setProgress(progressBarId(port), step);
        model.setText(resultLineId(slotNumber(port, 1)), "Start Test !!\r\n");
      }
      model.setPicture(statusPictureId(port), 133);
      model.enable(portBoxId(port), false); // no port box line: carried out before it returns
      // A worker reads back what it showed, queued or not.
      EXPECT_EQ(model.text(resultLineId(slotNumber(port, 1))), "Start Test !!\r\n");
    });
  }
  for (auto& w : workers)
    w.join();
  onWindow([&] {
    for (int port = 1; port <= kPortCount; ++port) {
      EXPECT_FALSE(model.control(portBoxId(port)).enabled);
      EXPECT_EQ(model.control(progressBarId(port)).position, kProgressMax);
      EXPECT_EQ(model.control(statusPictureId(port)).picture, 133);
    }
  });
}

// A worker's progress does not wake the window for every change: a burst of them reaches it as
// the latest value. A change the window thread makes itself (a removal pass blanking a box) wins
// over one a worker queued before it.
TEST_F(Controls, WorkersProgressIsCoalescedAndTheWindowsOwnChangeWins) {
  std::uint64_t before = 0;
  onWindow([&] { before = model.revision(); });
  std::thread([&] {
    for (int position = 0; position <= 10000; ++position)
      model.setProgress(progressBarId(1), position);
    model.setText(resultLineId(1), "stale");
  }).join();
  onWindow([&] { model.setText(resultLineId(1), ""); });
  // The queue is flushed in one go, so once the last position shows, all of it has been applied.
  int shown = -1;
  for (int wait = 0; wait < 1000 && shown != 10000; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    onWindow([&] { shown = model.control(progressBarId(1)).position; });
  }
  onWindow([&] {
    EXPECT_EQ(model.control(progressBarId(1)).position, 10000);
    EXPECT_EQ(model.control(resultLineId(1)).text, "");
    EXPECT_LT(model.revision() - before, 50u);
  });
}

// A busy port wakes the window through one timer that stays armed while changes come, fewer
// than twelve times a second, and the last value shows; a resting station does not wake it.
TEST_F(Controls, ABusyPortWakesTheWindowAtMostTwelveTimesASecondAndAnIdleOneNever) {
  using Clock = std::chrono::steady_clock;
  const std::uint64_t before = host.wakes();
  const auto start = Clock::now();
  std::thread([&] {
    for (int position = 0; Clock::now() - start < std::chrono::seconds(1); ++position) {
      model.setProgress(progressBarId(1), position % kProgressMax);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    model.setProgress(progressBarId(1), kProgressMax);
  }).join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_LE(static_cast<double>(host.wakes() - before), 12 * seconds + 1);

  int shown = -1;
  for (int wait = 0; wait < 100 && shown != kProgressMax; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    onWindow([&] { shown = model.control(progressBarId(1)).position; });
  }
  EXPECT_EQ(shown, kProgressMax);
  // Once the timer has lapsed (one quiet period after the last change, later on a busy machine)
  // nothing wakes the window: a stretch of 300 ms with no wake comes soon.
  bool quiet = false;
  for (int stretch = 0; stretch < 10 && !quiet; ++stretch) {
    const std::uint64_t resting = host.wakes();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    quiet = host.wakes() == resting;
  }
  EXPECT_TRUE(quiet);
}

TEST_F(Controls, AnUnknownIdAssertsInDebugBuildsAndChangesNothingInRelease) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::uint64_t before = 0;
  onWindow([&] { before = model.revision(); });
  for (int unknown : {999, 1400}) {
    EXPECT_DEBUG_DEATH(model.setText(unknown, "x"), "no control of the window has this id");
    EXPECT_DEBUG_DEATH(model.setProgress(unknown, 5), "no control of the window has this id");
    EXPECT_DEBUG_DEATH(model.setChecked(unknown, true), "no control of the window has this id");
  }
  onWindow([&] { EXPECT_EQ(model.revision(), before); });
}

} // namespace
} // namespace tarvix::app
