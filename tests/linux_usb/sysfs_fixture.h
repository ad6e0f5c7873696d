// The recorded sysfs trees of tests/data/sysfs, and scratch copies of them for tests that change
// a tree. See make_fixtures.py there for what each tree holds.
#pragma once

#include "platform/linux/usb/logical_units.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tarvix::platform::linux_usb::testing {

namespace fs = std::filesystem;

inline fs::path recordedTree(const std::string& name) {
  const char* data = std::getenv("TARVIX_TEST_DATA");
  return fs::path(data ? data : "tests/data") / "sysfs" / name;
}

// Fixture trees never hold the running system's root file system, whatever device numbers
// this machine happens to use.
inline LinuxUsbConfig configFor(const fs::path& root, fs::path devRoot = "/nonexistent") {
  LinuxUsbConfig config;
  config.sysfsRoot = root;
  config.devRoot = std::move(devRoot);
  config.spareRootFilesystem = false;
  return config;
}

// A scratch directory removed with the test.
class ScratchDir : public tarvix::testing::TempDir {
public:
  // Replaces `dir` below the scratch directory with a copy of a recorded tree.
  fs::path copyTree(const std::string& name, const std::string& dir = "sys") const {
    const fs::path target = path() / dir;
    fs::remove_all(target);
    fs::copy(recordedTree(name), target,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    return target;
  }
};

} // namespace tarvix::platform::linux_usb::testing
