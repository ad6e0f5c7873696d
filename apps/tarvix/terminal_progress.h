// A headless run's progress on a terminal: one live line per started port (port, what its box
// shows, progress, elapsed time), redrawn in place at most four times a second, and once more with
// each port's result when the run has ended. Used from one thread only.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tarvix::cli {

inline constexpr auto kRedrawPeriod = std::chrono::milliseconds(250);

struct PortLine {
  int port = 0;
  std::string shows;  // the port box's first result line, on one line
  int position = 0;   // of 200
  std::string result; // empty while the port runs
};

class TerminalProgress {
public:
  explicit TerminalProgress(std::FILE* terminal) : terminal_(terminal) {}

  // Draws `ports` over the lines drawn last, unless a quarter second has not passed yet; the
  // final drawing always goes out.
  void show(const std::vector<PortLine>& ports, bool final);

private:
  using Clock = std::chrono::steady_clock;
  std::FILE* terminal_;
  Clock::time_point lastDrawn_{};
  std::size_t linesDrawn_ = 0;
  std::map<int, Clock::time_point> started_;
  std::map<int, Clock::duration> took_;
};

} // namespace tarvix::cli
