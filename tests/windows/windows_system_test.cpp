// The Windows system services as a process sees them, under wine or on Windows: hidden child
// processes and their exit codes, the time-out and the caller's change of mind ending the child,
// a program that is not there, the copy tool on the line the copy step gives it, the run start's
// registry value, and the single-instance lock.
#include "platform/windows/device_parts.h"
#include "platform/windows/wide.h"
#include "platform/windows/windows_system.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

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

// xcopy splits its own line: a source and a folder with blanks, as the copy step writes them.
TEST(WindowsSystem, TheCopyToolTakesTheCopyStepsLines) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / "tarvix copy test";
  fs::remove_all(root);
  fs::create_directories(root / "My Docs" / "inner");
  fs::create_directories(root / "card");
  std::ofstream(root / "read me.txt") << "file";
  std::ofstream(root / "My Docs" / "inner" / "deep.txt") << "deep";
  const std::string target = narrow((root / "card").wstring()) + "\\";
  WindowsVolumes volumes;
  WindowsSystem system;
  for (const auto& [source, folder] : {std::pair<fs::path, std::string>{root / "read me.txt", ""},
                                       {root / "My Docs", "My Docs"}}) {
    const auto command = volumes.copyCommand(target, narrow(source.wstring()), folder);
    const auto got = system.runHidden(command.argv, command.environment, {},
                                      std::chrono::seconds(60), [] { return true; });
    EXPECT_TRUE(got.exited && got.exitCode == 0) << command.argv[1] << ": " << got.exitCode;
  }
  EXPECT_TRUE(fs::exists(root / "card" / "read me.txt"));
  EXPECT_TRUE(fs::exists(root / "card" / "My Docs" / "inner" / "deep.txt"));
  fs::remove_all(root);
}

// Written at each run start for the identity typed in; a station on a farm writes nothing.
TEST(WindowsSystem, RunStartValueNamesTheTypedIdentity) {
  const wchar_t* key = L"SYSTEM\\CurrentControlSet\\Control\\UsbFlags";
  const wchar_t* name = L"IgnoreHWSerNum12ABCD0F";
  HKEY flags = nullptr;
  // Every Windows has the key; a fresh wine prefix may not.
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &flags,
                            nullptr),
            ERROR_SUCCESS);
  RegDeleteValueW(flags, name);
  CapturingTrace trace;
  WindowsSystem(&trace, false).ignoreSerialNumbersOf("12AB", "CD0F");
  EXPECT_EQ(RegQueryValueExW(flags, name, nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  WindowsSystem(&trace).ignoreSerialNumbersOf("12AB", "CD0F");
  DWORD type = 0;
  BYTE data[8] = {};
  DWORD size = sizeof data;
  ASSERT_EQ(RegQueryValueExW(flags, name, nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(data[0], 1);
  EXPECT_EQ(trace.lines(), std::vector<std::string>{"SetRegValueName Success"});
  RegDeleteValueW(flags, name);
  RegCloseKey(flags);
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
