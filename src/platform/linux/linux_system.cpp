#include "platform/linux/linux_system.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool LinuxSystem::acquireInstanceLock(const std::string& name) {
  const auto path = lockDir_ / ("." + name + ".instance.lock");
  // Mode 0666 (umask aside) so that a station started by another user can still open it.
  int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  (void)::fchmod(fd, 0666); // fails harmlessly on a file another user created
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = fd;
  return true;
}

void LinuxSystem::applySystemAdjustments() {}

std::string instanceLockName(const std::filesystem::path& executable) {
  return executable.stem().string();
}

} // namespace tarvix::platform::linux_backend
