// The settings file, both ways. First byte even: the rest is a file to read; whatever reads, once
// written, must read and write again to the same bytes. First byte odd: the rest is a run of
// writes of any text under the station's own section and key names; written to disk and read back,
// every key must read as it did before the save.
#include "settings/profile_file.h"
#include "fuzz_input.h"
#include "settings/settings_keys.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

using namespace tarvix;
namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 3> kSections = {
    settings::section::kTestItem, settings::section::kCardInfor, settings::section::kCopyFile};
constexpr std::array<std::string_view, 4> kKeys = {
    settings::key::kLabel, settings::key::kIsoFilePath, settings::key::kRwTestCount,
    settings::key::kSerialNum};

fs::path scratch(const char* name) { return fuzz::scratchDir() / name; }

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void readWriteRead(std::string_view file) {
  std::ofstream(scratch("in.ini"), std::ios::binary)
      .write(file.data(), static_cast<std::streamsize>(file.size()));
  settings::ProfileFile first;
  std::string error;
  if (!first.load(scratch("in.ini"), error)) return;
  fuzz::expect(first.save(scratch("a.ini")), "a read profile can be written");
  settings::ProfileFile second;
  fuzz::expect(second.load(scratch("a.ini"), error), "a written profile reads");
  fuzz::expect(second.save(scratch("b.ini")), "a read profile can be written");
  fuzz::expect(contents(scratch("a.ini")) == contents(scratch("b.ini")),
               "reading and writing again changes nothing");
}

void writeRead(fuzz::FuzzInput& in) {
  settings::ProfileFile written;
  std::set<std::pair<std::string_view, std::string_view>> keys;
  while (!in.empty()) {
    const std::uint8_t op = in.byte();
    const std::string_view section = kSections[op % kSections.size()];
    const std::string_view key = kKeys[(op >> 2) % kKeys.size()];
    keys.insert({section, key});
    const std::string_view value = in.field('\0');
    switch ((op >> 4) % 3) {
    case 0: written.setText(section, key, value); break;
    case 1: written.setInteger(section, key, static_cast<int>(value.size()) - 64); break;
    default: written.setCheck(section, key, value.size() % 2 == 1); break;
    }
  }
  fuzz::expect(written.save(scratch("w.ini")), "a profile can be written");
  settings::ProfileFile read;
  std::string error;
  fuzz::expect(read.load(scratch("w.ini"), error), "a written profile reads");
  for (const auto& [section, key] : keys) {
    fuzz::expect(read.text(section, key, "-") == written.text(section, key, "-"),
                 "a text reads back as it was written");
    fuzz::expect(read.integer(section, key, -1) == written.integer(section, key, -1),
                 "a number reads back as it was written");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  if (in.byte() % 2 == 0)
    readWriteRead(in.rest());
  else
    writeRead(in);
  return 0;
}
