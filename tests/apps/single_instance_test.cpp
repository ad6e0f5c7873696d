// The station as a process: a second start of the same executable ends silently. How the lock is
// named, released and left behind is the instance lock's own test.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Started {
  pid_t pid = -1;
  fs::path output;
};

class StationProcess : public ::testing::Test {
protected:
  StationProcess() {
    char pattern[] = "/tmp/tarvix-process-XXXXXX";
    dir = mkdtemp(pattern);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
  }
  ~StationProcess() override {
    for (pid_t pid : running) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    fs::remove_all(dir);
  }

  // A copy of the station under `name`, unique to this test run so no real station interferes.
  fs::path install(const std::string& name) {
    const fs::path target = dir / (name + "-" + std::to_string(::getpid()));
    fs::copy_file(TARVIX_EXECUTABLE, target);
    return target;
  }

  Started start(const fs::path& executable) {
    Started s;
    s.output = dir / (executable.filename().string() + "-" + std::to_string(counter++) + ".out");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, s.output.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string path = executable.string();
    char* argv[] = {path.data(), nullptr};
    EXPECT_EQ(posix_spawn(&s.pid, path.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    running.push_back(s.pid);
    return s;
  }

  // Waits until `pid` holds the instance lock of its name, seen from its open files.
  static bool holdsLock(pid_t pid, const fs::path& executable) {
    const std::string lock = "." + executable.stem().string() + ".instance.lock";
    for (int i = 0; i < 200; ++i) {
      std::error_code error;
      for (auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code e2;
        if (fs::read_symlink(fd.path(), e2).filename() == lock) return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  // The exit status of `pid` if it ends within `limit`; -1 while it still runs.
  int exitWithin(pid_t pid, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        std::erase(running, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }

  static std::uintmax_t outputSize(const Started& s) { return fs::file_size(s.output); }

  fs::path dir;
  std::vector<pid_t> running;
  int counter = 0;
};

TEST_F(StationProcess, SecondStartEndsSilentlyWhileTheFirstRuns) {
  const fs::path station = install("tarvix");
  Started first = start(station);
  ASSERT_TRUE(holdsLock(first.pid, station));

  Started second = start(station);
  EXPECT_EQ(exitWithin(second.pid, 10s), 0);
  EXPECT_EQ(outputSize(second), 0u) << "a second start must print nothing";
  EXPECT_EQ(exitWithin(first.pid, 300ms), -1) << "the first station keeps running";
}

} // namespace
