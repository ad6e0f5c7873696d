// Station runs in child processes of their own, for the pass oracle and the soak: each child has
// a fresh folder and tells what it found through a pipe. It leads a process group, so that when
// it hangs it is ended together with the copy tools it started.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tarvix::testing {

struct ChildRun {
  pid_t pid = -1;
  int fd = -1;
  std::filesystem::path dir;
  std::string heard;
  std::chrono::steady_clock::time_point deadline;
  int status = 0;
  bool killed = false; // ended at its deadline
};

// Starts `body(dir, fd)`, which must not return, in a child with its own folder.
template <typename Body>
ChildRun startChild(std::chrono::steady_clock::duration limit, const Body& body) {
  char pattern[] = "/tmp/tarvix-child-XXXXXX";
  int ends[2];
  if (::mkdtemp(pattern) == nullptr || ::pipe2(ends, O_CLOEXEC) != 0)
    throw std::runtime_error("no folder or pipe for a child");
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("no process for a child");
  if (pid == 0) {
    ::setpgid(0, 0);
    ::close(ends[0]);
    body(std::filesystem::path(pattern), ends[1]);
  }
  ::setpgid(pid, pid);
  ::close(ends[1]);
  ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
  return {pid, ends[0], pattern, {}, std::chrono::steady_clock::now() + limit};
}

// Adds what the child told since; true once it has ended, by itself or at its deadline, and all
// it told is heard. Its pipe and folder are gone then.
inline bool pollChild(ChildRun& child) {
  const auto drain = [&] {
    char buffer[4096];
    for (ssize_t n; (n = ::read(child.fd, buffer, sizeof buffer)) > 0;)
      child.heard.append(buffer, static_cast<std::size_t>(n));
  };
  drain();
  if (::waitpid(child.pid, &child.status, WNOHANG) != child.pid) {
    if (std::chrono::steady_clock::now() <= child.deadline) return false;
    ::kill(-child.pid, SIGKILL);
    ::waitpid(child.pid, &child.status, 0);
    child.killed = true;
  }
  drain();
  ::close(child.fd);
  std::error_code ignored;
  std::filesystem::remove_all(child.dir, ignored);
  return true;
}

} // namespace tarvix::testing
