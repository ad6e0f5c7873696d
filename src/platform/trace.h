// The sink for the station's fixed English diagnostic lines. One line per call, no newline in
// the text. Implementations are thread-safe: twenty-one workers trace at once.
#pragma once

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

// Writes each line to standard error.
class StderrTrace final : public TraceSink {
public:
  void line(std::string_view text) override;

private:
  std::mutex mutex_;
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
