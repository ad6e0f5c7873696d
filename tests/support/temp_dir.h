// A folder of its own for one test, removed with everything in it when the test ends; reading a
// file whole; running a shell command for its output.
#pragma once

#include "support/portable.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace tarvix::testing {

class TempDir {
public:
  TempDir() { path_ = makeTestFolder("tarvix-test-"); }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Writes `content` to `name` in the folder and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ / name, std::ios::binary) << content;
    return path_ / name;
  }

private:
  std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Shell {
  int status = -1; // the exit status; -1 when it did not exit
  std::string output;
};
// Runs `command` in a shell, standard error and output together; mtools skip their disk check.
inline Shell shell(const std::string& command) {
  Shell result;
#ifdef _WIN32
  FILE* pipe = _popen((command + " 2>&1").c_str(), "r");
#else
  FILE* pipe = popen(("MTOOLS_SKIP_CHECK=1 " + command + " 2>&1").c_str(), "r");
#endif
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    result.output.append(buffer, n);
#ifdef _WIN32
  result.status = _pclose(pipe);
#else
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return result;
}

} // namespace tarvix::testing
