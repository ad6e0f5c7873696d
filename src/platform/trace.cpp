#include "platform/trace.h"

#include <cstdio>

namespace tarvix::platform {

void StderrTrace::line(std::string_view text) {
  std::lock_guard lock(mutex_);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
}

void CapturingTrace::line(std::string_view text) {
  std::lock_guard lock(mutex_);
  lines_.emplace_back(text);
}

std::vector<std::string> CapturingTrace::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

void CapturingTrace::clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

} // namespace tarvix::platform
