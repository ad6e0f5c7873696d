// Where the station prints. On Windows tarvix.exe is a window program: started from a console it
// has no standard output of its own, so before it prints it takes over the console it was started
// from, unless its output already goes to a file or a pipe. Elsewhere this does nothing.
// Main thread; once is enough, later calls do nothing.
#pragma once

namespace tarvix::cli {

#ifdef _WIN32
void useParentConsole();
#else
inline void useParentConsole() {}
#endif

} // namespace tarvix::cli
