#include "ui/headless/headless_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace tarvix::ui {
namespace {

using namespace std::chrono_literals;

void drain(HeadlessHost& host) {
  host.runAndWait([] {});
}

TEST(HeadlessHost, PostedTasksRunInOrderOnTheWindowThread) {
  HeadlessHost host;
  std::vector<int> order;
  std::atomic<bool> allOnWindowThread{true};
  for (int i = 0; i < 100; ++i) {
    host.post([&, i] {
      order.push_back(i);
      if (!host.onWindowThread()) allOnWindowThread = false;
    });
  }
  drain(host);
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(order[i], i);
  EXPECT_TRUE(allOnWindowThread);
  EXPECT_FALSE(host.onWindowThread());
}

TEST(HeadlessHost, RunAndWaitFromManyWorkersAndInlineOnTheWindowThread) {
  HeadlessHost host;
  int counter = 0; // touched only on the window thread, so no lock is needed
  std::vector<std::thread> workers;
  for (int w = 0; w < 21; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < 50; ++i)
        host.runAndWait([&] { ++counter; });
    });
  }
  for (auto& t : workers)
    t.join();
  EXPECT_EQ(counter, 21 * 50);

  // A window-thread task that sends to its own thread must not deadlock.
  bool nested = false;
  host.runAndWait([&] { host.runAndWait([&] { nested = true; }); });
  EXPECT_TRUE(nested);
}

TEST(HeadlessHost, RearmingATimerKeepsOnlyTheLatest) {
  HeadlessHost host;
  std::atomic<int> first{0}, second{0};
  std::promise<void> fired;
  host.runAndWait([&] {
    host.armTimer(2, 30ms, [&] { ++first; });
    host.armTimer(2, 40ms, [&] {
      ++second;
      fired.set_value();
    });
  });
  // Waits for the latest to fire rather than a fixed time, which a busy machine can outlast.
  ASSERT_EQ(fired.get_future().wait_for(10s), std::future_status::ready);
  drain(host);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_FALSE(host.timerPending(2));
}

TEST(HeadlessHost, StoppedTimerNeverFiresAndOtherIdsAreIndependent) {
  HeadlessHost host;
  std::atomic<int> stopped{0}, kept{0};
  std::promise<bool> firedOnWindowThread;
  host.runAndWait([&] {
    host.armTimer(1, 20ms, [&] { ++stopped; });
    host.armTimer(2, 30ms, [&] {
      ++kept;
      firedOnWindowThread.set_value(host.onWindowThread());
    });
    host.stopTimer(1);
  });
  EXPECT_TRUE(firedOnWindowThread.get_future().get());
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(stopped, 0);
  EXPECT_EQ(kept, 1);
}

TEST(HeadlessHost, TimerArmedFromItsOwnCallbackFiresAgain) {
  HeadlessHost host;
  std::atomic<int> ticks{0};
  std::promise<void> third;
  std::function<void()> tick = [&] {
    if (++ticks == 3) {
      third.set_value();
      return;
    }
    host.armTimer(2, 5ms, tick);
  };
  host.runAndWait([&] { host.armTimer(2, 5ms, tick); });
  EXPECT_EQ(third.get_future().wait_for(2s), std::future_status::ready);
}

// A thread waiting for something the window thread brings about sleeps until a task or timer
// makes it hold; a host with nothing to do never wakes.
TEST(HeadlessHost, WaitUntilSleepsUntilAWindowEventMakesItHold) {
  HeadlessHost host;
  bool done = false; // window thread only
  EXPECT_FALSE(host.waitUntil([&] { return done; }, 30ms));
  host.runAndWait([&] { host.armTimer(1, 50ms, [&] { done = true; }); });
  const std::uint64_t before = host.wakes();
  EXPECT_TRUE(host.waitUntil([&] { return done; }));
  EXPECT_LE(host.wakes() - before, 2u); // the waiter's own first look, and the timer

  const std::uint64_t resting = host.wakes();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(host.wakes(), resting);
}

TEST(HeadlessHost, ModalInteractionsAreRecordedAndAnsweredByTheResponder) {
  HeadlessHost host;
  host.messageBox("Load file sucess !!", "Tarvix");
  EXPECT_EQ(host.messages(), std::vector<std::string>{"Load file sucess !!"});

  PathRequest open{PathRequest::Kind::OpenFile, "Load", "INI Files (*.ini)", {}};
  EXPECT_FALSE(host.askPath(open)); // no responder: cancelled
  host.setPathResponder([](const PathRequest& r) -> std::optional<std::filesystem::path> {
    if (r.kind == PathRequest::Kind::Folder) return std::nullopt;
    return "/tmp/x.ini";
  });
  EXPECT_EQ(host.askPath(open), std::filesystem::path("/tmp/x.ini"));
  EXPECT_FALSE(host.askPath({PathRequest::Kind::Folder, "Pick", "", {}}));
  EXPECT_EQ(host.pathRequests().size(), 3u);
  host.showAbout();
  EXPECT_EQ(host.aboutCount(), 1);
}

} // namespace
} // namespace tarvix::ui
