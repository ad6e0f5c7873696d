#include "platform/linux/linux_system.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvix::platform::linux_backend {

LinuxSystem::LinuxSystem(std::filesystem::path lockDir) : lockDir_(std::move(lockDir)) {}

LinuxSystem::~LinuxSystem() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

std::uint64_t LinuxSystem::availableMemoryBytes() const {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kib = 0;
  std::string unit;
  while (meminfo >> key >> kib >> unit) {
    if (key == "MemAvailable:") return kib * 1024;
  }
  return 0;
}

std::string LinuxSystem::systemLocale() const {
  // The same precedence the C library uses for messages.
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

std::filesystem::path LinuxSystem::executablePath() const {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path{} : path;
}

std::filesystem::path userLockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') return runtime;
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  const std::filesystem::path base =
      cache != nullptr && *cache == '/'
          ? std::filesystem::path(cache)
          : std::filesystem::path(home != nullptr ? home : "") / ".cache";
  return base / "tarvix";
}

bool LinuxSystem::acquireInstanceLock(const std::string& name) {
  std::error_code ignored;
  std::filesystem::create_directories(lockDir_.parent_path(), ignored);
  ::mkdir(lockDir_.c_str(), 0700); // an existing folder is left as it is
  const auto path = lockDir_ / ("." + name + ".instance.lock");
  // A link planted in place of the lock is refused rather than followed.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = fd;
  return true;
}

void LinuxSystem::applySystemAdjustments() {}

ProcessOutcome LinuxSystem::runHidden(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment,
                                      const std::filesystem::path& workingDir,
                                      std::chrono::nanoseconds timeout) {
  ProcessOutcome outcome;
  if (argv.empty()) {
    outcome.startError = EINVAL;
    return outcome;
  }
  std::vector<std::string> env = environment;
  for (char** e = environ; *e != nullptr; ++e)
    env.emplace_back(*e);
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // A hidden tool has no terminal: a question it asks ends in the time-out, not in a hang.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (!workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    outcome.startError = error;
    return outcome;
  }
  outcome.started = true;
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      outcome.exited = true;
      outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return outcome;
    }
    if (done < 0 || std::chrono::steady_clock::now() >= until) return outcome;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string instanceLockName(const std::filesystem::path& executable) {
  return executable.stem().string();
}

} // namespace tarvix::platform::linux_backend
