// Files that station processes share: made group-writable in a folder that passes its group on,
// so the next operator of the station can write what the first one made.
#include "platform/files/atomic_file.h"
#include "platform/files/shared_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using namespace tarvix::platform::files;

TEST(SharedFiles, MadeGroupWritableOnlyInAFolderThatPassesItsGroupOn) {
  tarvix::testing::TempDir dir;
  const mode_t umask = ::umask(022);
  const struct {
    const char* name;
    void (*make)(const fs::path&);
  } makers[] = {
      {"replaced", [](const fs::path& p) { ASSERT_TRUE(replaceAtomically(p, "x")); }},
      {"appended", [](const fs::path& p) { ASSERT_TRUE(appendShared(p, "h\n", "r\n", true)); }},
      {"lock", [](const fs::path& p) { ASSERT_TRUE(ProcessLock(p).held()); }},
  };
  for (const bool shared : {false, true}) {
    const fs::path folder = dir.path() / (shared ? "shared" : "plain");
    fs::create_directory(folder);
    if (shared) ::chmod(folder.c_str(), 02775);
    for (const auto& maker : makers) {
      SCOPED_TRACE(std::string(maker.name) + (shared ? " shared" : " plain"));
      const fs::path file = folder / maker.name;
      maker.make(file);
      struct stat info {};
      ASSERT_EQ(::stat(file.c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 0777, shared ? 0664u : 0644u);
    }
  }
  ::umask(umask);
  EXPECT_EQ(tarvix::testing::readFile(dir.path() / "shared" / "appended"), "h\nr\n");
}

} // namespace
