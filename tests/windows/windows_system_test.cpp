// The Windows system services as a process sees them, under wine or on Windows: hidden child
// processes and their exit codes, the time-out and the caller's change of mind ending the child,
// a program that is not there, and the single-instance lock.
#include "platform/windows/windows_system.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace tarvix::platform::windows {
namespace {

using namespace std::chrono_literals;

// cmd's endless loop: ends only when the station ends it.
const std::vector<std::string> kEndless = {"cmd.exe", "/c", "for /L %i in (1,0,2) do rem"};

TEST(WindowsSystem, HiddenProcessesReportHowTheyWent) {
  WindowsSystem system;
  const auto always = [] { return true; };
  struct Case {
    std::vector<std::string> argv;
    std::chrono::nanoseconds timeout;
    bool wanted;
    ProcessOutcome want;
  };
  const Case cases[] = {
      {{"cmd.exe", "/c", "exit 0"}, 30s, true, {true, 0, true, 0}},
      {{"cmd.exe", "/c", "exit 5"}, 30s, true, {true, 0, true, 5}}, // xcopy's write error
      {{"cmd.exe", "/c", "if \"%TARVIX_PROBE%\"==\"yes\" exit 7"}, 30s, true, {true, 0, true, 7}},
      {kEndless, 300ms, true, {true, 0, false, 0}},
      {kEndless, 30s, false, {true, 0, false, 0}},
      {{"no-such-tool.exe"}, 30s, true, {false, ENOENT, false, 0}},
  };
  for (const Case& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const auto got = system.runHidden(c.argv, {"TARVIX_PROBE=yes"}, {}, c.timeout,
                                      c.wanted ? std::function<bool()>(always)
                                               : std::function<bool()>([] { return false; }));
    const std::string name = c.argv.back();
    EXPECT_EQ(got.started, c.want.started) << name;
    EXPECT_EQ(got.startError, c.want.startError) << name;
    EXPECT_EQ(got.exited, c.want.exited) << name;
    EXPECT_EQ(got.exitCode, c.want.exitCode) << name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << name << ": ended in time";
  }
}

TEST(WindowsSystem, OneInstancePerLockName) {
  WindowsSystem first;
  WindowsSystem second;
  EXPECT_TRUE(first.acquireInstanceLock("tarvix-lock-test"));
  EXPECT_FALSE(second.acquireInstanceLock("tarvix-lock-test"));
  EXPECT_TRUE(second.acquireInstanceLock("tarvix-lock-test.farm-1"));
  EXPECT_EQ(instanceLockName("C:\\Stations\\Line 3\\tarvix.exe"), "tarvix");
  EXPECT_FALSE(first.executablePath().empty());
  EXPECT_GT(first.availableMemoryBytes(), 0u);
}

} // namespace
} // namespace tarvix::platform::windows
