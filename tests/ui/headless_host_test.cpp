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

// A timer fires on the window thread as it was armed last, again when its own callback arms it,
// and never once stopped; stopping one leaves the others alone.
TEST(HeadlessHost, TimersFireOnTheWindowThreadAsLastArmedUnlessStopped) {
  HeadlessHost host;
  std::atomic<int> replaced{0}, stopped{0}, ticks{0};
  std::promise<bool> third; // told on the third tick, whether it came on the window thread
  std::function<void()> tick = [&] {
    if (++ticks == 3) {
      third.set_value(host.onWindowThread());
      return;
    }
    host.armTimer(2, 5ms, tick);
  };
  host.runAndWait([&] {
    host.armTimer(1, 20ms, [&] { ++stopped; });
    host.armTimer(2, 10ms, [&] { ++replaced; });
    host.armTimer(2, 30ms, tick);
    host.stopTimer(1);
  });
  // Waits for the ticks rather than a fixed time, which a busy machine can outlast.
  auto onWindowThread = third.get_future();
  ASSERT_EQ(onWindowThread.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(onWindowThread.get());
  std::this_thread::sleep_for(50ms);
  drain(host);
  EXPECT_EQ(replaced, 0);
  EXPECT_EQ(stopped, 0);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(host.timerPending(2));
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
