// The sink for the station's fixed English diagnostic lines. One line per call, no newline in
// the text. Implementations are thread-safe: twenty-one workers trace at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::platform {

class TraceSink {
public:
  virtual ~TraceSink() = default;
  virtual void line(std::string_view text) = 0;
};

// The port (1-21) the calling thread works for, 0 for none. A port's worker names its port once,
// and every trace line it writes, through any layer, carries it.
int tracedPort();
// Names `port` as the calling thread's while it lives, then restores the one before.
class TracedPortScope {
public:
  explicit TracedPortScope(int port);
  ~TracedPortScope();
  TracedPortScope(const TracedPortScope&) = delete;
  TracedPortScope& operator=(const TracedPortScope&) = delete;

private:
  int previous_;
};

// Writes each line to a trace file kept to about `limit` bytes: a line that would pass it first
// moves the file to `<file>.1` (replacing the older part) and starts it anew. With `alsoStderr`
// every line goes to standard error too. A file that cannot be opened leaves standard error only.
// Each line is the local time to the millisecond and, from a port's thread, "port N:", then the
// text as given: "2026-12-08 16:24:11.123 port 3: m_hUSBDeviceHandle close handle".
class FileTrace final : public TraceSink {
public:
  FileTrace(std::filesystem::path file, std::uint64_t limit, bool alsoStderr);
  ~FileTrace() override;
  FileTrace(const FileTrace&) = delete;
  FileTrace& operator=(const FileTrace&) = delete;

  // False when the file could not be opened.
  bool writing() const { return file_ != nullptr; }
  void line(std::string_view text) override;

private:
  std::mutex mutex_;
  const std::filesystem::path path_;
  const std::uint64_t limit_;
  const bool alsoStderr_;
  std::FILE* file_ = nullptr;
  std::uint64_t size_ = 0;
};

// Keeps every line in memory, for tests.
class CapturingTrace final : public TraceSink {
public:
  void line(std::string_view text) override;
  std::vector<std::string> lines() const;
  void clear();

private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

} // namespace tarvix::platform
