// What the fuzz targets share: the fuzzer's bytes cut into the pieces a target needs, and a
// broken property turned into a crash, so libFuzzer keeps the input that shows it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace tarvix::fuzz {

class FuzzInput {
public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  bool empty() const { return rest_.empty(); }
  // The next byte; 0 once the input is used up.
  std::uint8_t byte() {
    if (rest_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  // The bytes up to the next `separator` (or the end); the separator is dropped.
  std::string_view field(char separator) {
    const std::size_t end = rest_.find(separator);
    const std::string_view piece = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    return piece;
  }
  std::string_view rest() const { return rest_; }

private:
  std::string_view rest_;
};

// A folder of this process for targets that read files, in memory where the system offers it;
// removed when the fuzzer exits.
inline const std::filesystem::path& scratchDir() {
  namespace fs = std::filesystem;
  struct Scratch {
    Scratch() {
      const fs::path shm = "/dev/shm";
      path = (fs::is_directory(shm) ? shm : fs::temp_directory_path()) /
             ("tarvix-fuzz-" + std::to_string(::getpid()));
      fs::create_directories(path);
    }
    ~Scratch() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
    fs::path path;
  };
  static const Scratch scratch;
  return scratch.path;
}

inline void expect(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", property);
  std::abort();
}

} // namespace tarvix::fuzz
