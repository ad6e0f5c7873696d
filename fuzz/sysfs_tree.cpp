// The sysfs reader on trees of the fuzzer's making: the input lays a miniature /sys, one entry a
// line ("dir/", "file=first line", "link>target"), which the letter table and the USB tree then
// read. A link's target is a path from the tree's root, without "..", so however links chain the
// reader never wanders into the real system's files.
#include "fuzz_input.h"
#include "platform/linux/usb/letter_table.h"
#include "platform/linux/usb/sysfs_usb_tree.h"

#include <fstream>

using namespace tarvix;
namespace fs = std::filesystem;

namespace {

constexpr int kMaxEntries = 256;

// A relative path of plain names, so every entry lands inside the tree.
bool plainRelative(const fs::path& path) {
  if (path.empty() || path.is_absolute()) return false;
  for (const fs::path& part : path) {
    if (part == "." || part == "..") return false;
  }
  return true;
}

void lay(const fs::path& root, std::string_view line) {
  std::error_code ignored;
  if (line.ends_with('/')) {
    const fs::path dir(line.substr(0, line.size() - 1));
    if (plainRelative(dir)) fs::create_directories(root / dir, ignored);
    return;
  }
  const std::size_t mark = line.find_first_of("=>");
  if (mark == std::string_view::npos) return;
  const fs::path at(line.substr(0, mark));
  const std::string_view value = line.substr(mark + 1);
  if (!plainRelative(at)) return;
  fs::create_directories((root / at).parent_path(), ignored);
  if (line[mark] == '=') {
    std::ofstream(root / at) << value << '\n';
    return;
  }
  const fs::path target(value);
  if (target.empty() || plainRelative(target))
    fs::create_symlink(root / target, root / at, ignored);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path root = fuzz::scratchDir() / "sys";
  std::error_code ignored;
  fs::remove_all(root, ignored);
  fs::create_directories(root, ignored);
  fuzz::FuzzInput in(data, size);
  for (int entries = 0; entries < kMaxEntries && !in.empty(); ++entries)
    lay(root, in.field('\n'));

  platform::linux_usb::LinuxUsbConfig config;
  config.sysfsRoot = root;
  config.devRoot = "/nonexistent";
  config.spareRootFilesystem = false;
  platform::linux_usb::LetterTable letters(config);
  const platform::linux_usb::SysfsUsbTree tree(letters);
  (void)tree.snapshot();
  for (const auto& lettered : letters.units()) {
    fuzz::expect(lettered.letter >= platform::linux_usb::kFirstLetter && lettered.letter <= 'Z',
                 "units get letters from D to Z");
    (void)platform::linux_usb::volumeNode(root, lettered.unit);
  }
  return 0;
}
