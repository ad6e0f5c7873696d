// What the tests need of the system beyond the C++ library, on Linux and under wine alike.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#ifdef _WIN32
// mtools and dosfstools check the cards on Linux; wine runs no Linux program for a Windows one.
#define TARVIX_SKIP_WITHOUT_MTOOLS()                                                               \
  GTEST_SKIP() << "needs mtools and fsck.fat, Linux programs a Windows build cannot start"
#else
#define TARVIX_SKIP_WITHOUT_MTOOLS()                                                               \
  do {                                                                                             \
  } while (false)
#endif

namespace tarvix::testing {

// A new, empty folder under the system's temporary folder.
inline std::filesystem::path makeTestFolder(const std::string& prefix) {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    const auto folder = base / (prefix + std::to_string(random()));
    if (std::filesystem::create_directory(folder)) return folder;
  }
}

inline void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  ::_putenv_s(name, value != nullptr ? value : "");
#else
  if (value != nullptr)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
#endif
}

} // namespace tarvix::testing
