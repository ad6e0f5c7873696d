#include "platform/linux/linux_system.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/prctl.h>
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

std::string LinuxSystem::hostName() const {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
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

namespace {

// How long a timed-out tool gets to end after TERM before its group is killed.
constexpr auto kTerminateGrace = std::chrono::milliseconds(500);

// Waits for `pid` until `until`, while `wanted` holds; true when it ended, with its status.
bool waitUntil(pid_t pid, std::chrono::steady_clock::time_point until, int& status,
               const std::function<bool()>& wanted) {
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) return false; // reaped elsewhere: no status to report
    if (std::chrono::steady_clock::now() >= until || (wanted && !wanted())) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Ends the child's whole process group and reaps the child, so that nothing it started keeps
// writing a card after the station gave up on it.
void terminateGroup(pid_t pid) {
  int status = 0;
  ::killpg(pid, SIGTERM);
  if (!waitUntil(pid, std::chrono::steady_clock::now() + kTerminateGrace, status, {})) {
    ::killpg(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ::killpg(pid, SIGKILL); // whatever the tool left behind in its group
}

} // namespace

ProcessOutcome LinuxSystem::runHidden(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment,
                                      const std::filesystem::path& workingDir,
                                      std::chrono::nanoseconds timeout,
                                      const std::function<bool()>& wanted) {
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

  // The child reports a failed start through a close-on-exec pipe: the pipe closes unread when
  // exec succeeds.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    outcome.startError = errno;
    return outcome;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    outcome.startError = errno;
    ::close(report[0]);
    ::close(report[1]);
    return outcome;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec: the station has other threads.
    ::setpgid(0, 0); // its own group, so a time-out ends whatever it started too
    // Dies with the worker thread that waits for it, the station's end included.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    // A hidden tool has no terminal: a question it asks ends in the time-out, not in a hang.
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0 ||
        (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0)) {
      const int error = errno;
      (void)!::write(report[1], &error, sizeof error);
      ::_exit(127);
    }
    ::execvpe(args[0], args.data(), envp.data());
    const int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int error = 0;
  ssize_t got = 0;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got == sizeof error) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.startError = error;
    return outcome;
  }
  outcome.started = true;
  int status = 0;
  if (!waitUntil(pid, std::chrono::steady_clock::now() + timeout, status, wanted)) {
    terminateGroup(pid);
    return outcome;
  }
  outcome.exited = true;
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
}

std::string instanceLockName(const std::filesystem::path& executable) {
  return executable.stem().string();
}

} // namespace tarvix::platform::linux_backend
