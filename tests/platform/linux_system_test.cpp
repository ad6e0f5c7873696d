#include "platform/linux/linux_system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace tarvix::platform::linux_backend {
namespace {

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

TEST(SystemFacts, MemoryAndExecutableAreMeasured) {
  LinuxSystem system;
  EXPECT_GT(system.availableMemoryBytes(), 1ULL << 20);
  EXPECT_EQ(system.executablePath().filename(), "linux_system_tests");
}

} // namespace
} // namespace tarvix::platform::linux_backend
