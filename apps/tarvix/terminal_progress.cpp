#include "terminal_progress.h"

#include <algorithm>

namespace tarvix::cli {
namespace {

constexpr std::size_t kShownCharacters = 40;
constexpr int kProgressMax = 200;

} // namespace

void TerminalProgress::show(const std::vector<PortLine>& ports, bool final) {
  const Clock::time_point now = Clock::now();
  for (const PortLine& line : ports) {
    started_.try_emplace(line.port, now);
    if (!line.result.empty()) took_.try_emplace(line.port, now - started_[line.port]);
  }
  if (!final && now - lastDrawn_ < kRedrawPeriod) return;
  lastDrawn_ = now;
  // Back to the first line drawn last time; a port that started since adds a line below.
  if (linesDrawn_ > 0) std::fprintf(terminal_, "\x1b[%zuA", linesDrawn_);
  for (const PortLine& line : ports) {
    const auto it = took_.find(line.port);
    const auto elapsed = it != took_.end() ? it->second : now - started_[line.port];
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    // Cut to fit, but never inside a UTF-8 character.
    std::size_t cut = std::min(line.shows.size(), kShownCharacters);
    while (cut < line.shows.size() && (static_cast<unsigned char>(line.shows[cut]) & 0xC0) == 0x80)
      --cut;
    const std::string shows = line.shows.substr(0, cut);
    std::fprintf(terminal_, "\x1b[2Kport %2d  %-*s %3d%%  %3lld:%02lld  %s\n", line.port,
                 static_cast<int>(kShownCharacters), shows.c_str(),
                 line.position * 100 / kProgressMax, static_cast<long long>(seconds / 60),
                 static_cast<long long>(seconds % 60), line.result.c_str());
  }
  linesDrawn_ = ports.size();
  std::fflush(terminal_);
}

} // namespace tarvix::cli
