#include "platform/linux/linux_system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarvix::platform::linux_backend {
namespace {

// No such process, or only a zombie left for init to reap: it runs no more.
bool gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pidField, name, state;
  return !(stat >> pidField >> name >> state) || state == "Z";
}

bool eventuallyGone(pid_t pid) {
  for (int i = 0; i < 300; ++i) {
    if (gone(pid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(InstanceLock, NameIsTheExecutablesBaseName) {
  EXPECT_EQ(instanceLockName("/opt/line1/tarvix"), "tarvix");
  EXPECT_EQ(instanceLockName("/usr/bin/tarvix-station2.bin"), "tarvix-station2");
}

TEST(InstanceLock, HeldUntilItsHolderGoesAway) {
  char pattern[] = "/tmp/tarvix-lock-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  {
    LinuxSystem first(dir);
    ASSERT_TRUE(first.acquireInstanceLock("station"));
    LinuxSystem second(dir);
    EXPECT_FALSE(second.acquireInstanceLock("station"));
    EXPECT_TRUE(second.acquireInstanceLock("other-station"));
  }
  // A lock file left behind by a holder that has gone never blocks a start.
  EXPECT_TRUE(std::filesystem::exists(dir / ".station.instance.lock"));
  LinuxSystem third(dir);
  EXPECT_TRUE(third.acquireInstanceLock("station"));
  std::filesystem::remove_all(dir);
}

TEST(InstanceLock, LivesInAFolderOfTheUsersOwnAndFollowsNoLink) {
  char pattern[] = "/tmp/tarvix-lock-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  EXPECT_EQ(userLockFolder(), dir);
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  const std::filesystem::path folder = userLockFolder();
  EXPECT_EQ(folder, dir / "cache" / "tarvix");

  LinuxSystem system(folder);
  ASSERT_TRUE(system.acquireInstanceLock("station"));
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat((folder / ".station.instance.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A link in the lock's place is not followed: its target keeps its mode.
  const std::filesystem::path target = dir / "target";
  std::ofstream(target) << "x";
  std::filesystem::permissions(target, std::filesystem::perms::owner_read);
  std::filesystem::create_symlink(target, folder / ".linked.instance.lock");
  EXPECT_FALSE(system.acquireInstanceLock("linked"));
  EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms::owner_read);
  ::unsetenv("XDG_CACHE_HOME");
  std::filesystem::remove_all(dir);
}

TEST(SystemLocale, MessagesLocaleTakesPrecedenceOverLang) {
  LinuxSystem system;
  ::setenv("LANG", "zh_CN.UTF-8", 1);
  ::setenv("LC_MESSAGES", "zh_TW.UTF-8", 1);
  ::setenv("LC_ALL", "", 1);
  EXPECT_EQ(system.systemLocale(), "zh_TW.UTF-8");
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  EXPECT_EQ(system.systemLocale(), "de_DE.UTF-8");
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  EXPECT_EQ(system.systemLocale(), "zh_CN.UTF-8");
}

TEST(HiddenProcess, ExitCodeTimeOutAndStartFailure) {
  using namespace std::chrono_literals;
  LinuxSystem system;
  auto run = [&](std::vector<std::string> argv, std::vector<std::string> env = {},
                 std::chrono::nanoseconds limit = 5s) {
    return system.runHidden(argv, env, "/tmp", limit, {});
  };
  auto done = run({"sh", "-c", "exit 3"});
  EXPECT_TRUE(done.started && done.exited);
  EXPECT_EQ(done.exitCode, 3);
  // The added environment reaches the child, and the working folder is the one given.
  EXPECT_EQ(
      run({"sh", "-c", "test \"$TARVIX_X\" = 1 && test \"$PWD\" = /tmp"}, {"TARVIX_X=1"}).exitCode,
      0);
  // A tool asking for input gets none: it ends instead of waiting.
  EXPECT_TRUE(run({"sh", "-c", "read answer"}).exited);
  // A time-out ends the tool and whatever it started: nothing is left running, nor a zombie.
  const auto pids = std::filesystem::temp_directory_path() / "tarvix-hidden-pids";
  const auto slow =
      run({"sh", "-c", "sleep 30 & echo $$ $! > " + pids.string() + "; wait"}, {}, 300ms);
  EXPECT_TRUE(slow.started);
  EXPECT_FALSE(slow.exited);
  std::ifstream pidFile(pids);
  pid_t shell = 0, sleeper = 0;
  ASSERT_TRUE(pidFile >> shell >> sleeper);
  EXPECT_TRUE(gone(shell));
  EXPECT_TRUE(eventuallyGone(sleeper));
  std::filesystem::remove(pids);
  // A tool no longer wanted (its reader pulled, the station closing) is ended at once.
  const auto start = std::chrono::steady_clock::now();
  const auto unwanted = system.runHidden({"sleep", "30"}, {}, "/tmp", 60s, [&] {
    return std::chrono::steady_clock::now() - start < 100ms;
  });
  EXPECT_FALSE(unwanted.exited);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  const auto missing = run({"no-such-copy-tool-here"});
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.startError, ENOENT);
}

} // namespace
} // namespace tarvix::platform::linux_backend
