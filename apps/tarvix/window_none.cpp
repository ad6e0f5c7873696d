// A station built without Qt: everything but the window.
#include "window_run.h"

#include <cstdio>

namespace tarvix::cli {

int runWindow(int, char**, Backend&, const Options&, const LogPlaces&) {
  std::fputs("tarvix: this station was built without its window; run it with --headless\n", stderr);
  return 2;
}

} // namespace tarvix::cli
