#include "platform/trace.h"

#include "platform/clock.h"

#include <cstdio>

namespace tarvix::platform {
namespace {

// Not inherited ("e", "N"): the copy tool the station starts never holds the trace file open.
std::FILE* openTrace(const std::filesystem::path& path, bool fresh) {
#ifdef _WIN32
  return ::_wfopen(path.c_str(), fresh ? L"wbN" : L"abN");
#else
  return std::fopen(path.c_str(), fresh ? "we" : "ae");
#endif
}

thread_local int portOfThread = 0;

// "2026-12-08 16:24:11.123 port 3: " or, outside a port's work, "2026-12-08 16:24:11.123 ".
std::string linePrefix() {
  const LocalTime t = localTimeNow();
  char prefix[64];
  const int port = tracedPort();
  std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.millisecond);
  std::string text = prefix;
  if (port != 0) text += "port " + std::to_string(port) + ": ";
  return text;
}

} // namespace

int tracedPort() { return portOfThread; }

TracedPortScope::TracedPortScope(int port) : previous_(portOfThread) { portOfThread = port; }

TracedPortScope::~TracedPortScope() { portOfThread = previous_; }

FileTrace::FileTrace(std::filesystem::path file, std::uint64_t limit, bool alsoStderr)
    : path_(std::move(file)), limit_(limit), alsoStderr_(alsoStderr) {
  std::error_code none;
  std::filesystem::create_directories(path_.parent_path(), none);
  file_ = openTrace(path_, false);
  if (file_ != nullptr) size_ = std::filesystem::file_size(path_, none);
}

FileTrace::~FileTrace() {
  if (file_ != nullptr) std::fclose(file_);
}

void FileTrace::line(std::string_view fixed) {
  const std::string text = linePrefix().append(fixed);
  std::lock_guard lock(mutex_);
  if (alsoStderr_) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
  }
  if (file_ == nullptr) return;
  if (size_ > 0 && size_ + text.size() + 1 > limit_) {
    std::fclose(file_);
    std::error_code none;
    std::filesystem::rename(path_, path_.string() + ".1", none);
    file_ = openTrace(path_, true);
    size_ = 0;
    if (file_ == nullptr) return;
  }
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fputc('\n', file_);
  // Flushed at once, as a debugger's output is seen at once, and nothing is lost to a crash.
  std::fflush(file_);
  size_ += text.size() + 1;
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
