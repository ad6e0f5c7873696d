// A run's preparation alone: what a card could not hold, an image that cannot be read or held, a
// copy entry that is gone, or a production line that cannot give the serial numbers the run
// writes refuses the run with the text that says why (and, for a terminal, the file and the
// system's reason), before any port starts; the reader identity typed in reaches the system either
// way.
#include "run/prepare_run.h"
#include "run/serial_counter.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace tarvix::run {
namespace {

namespace fs = std::filesystem;

// A line whose database cannot be reached.
class LineDown final : public station::SerialSource {
public:
  bool ready(std::string& why) override {
    why = "down";
    return false;
  }
  std::optional<std::string> take(int, std::string& why) override {
    why = "down";
    return std::nullopt;
  }
};

TEST(PrepareRun, WhatARunCannotWriteOrHoldRefusesItWithItsReason) {
  testing::TempDir dir;
  testing::FakePlatform fake;
  fake.system.executable = dir / "tarvix";
  const fs::path image = dir / "image.bin";
  { std::ofstream(image, std::ios::binary) << std::string(4096, 'b'); }
  const fs::path tiny = dir / "tiny.bin";
  { std::ofstream(tiny, std::ios::binary) << std::string(300, 't'); }
  const fs::path huge = dir / "huge.bin";
  { std::ofstream(huge, std::ios::binary).put('x'); }
  fs::resize_file(huge, 4ULL << 30); // sparse: nothing is written
  const fs::path folder = dir / "folder";
  fs::create_directory(folder);
#ifndef _WIN32
  const fs::path fifo = dir / "image.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
#endif

  struct Case {
    const char* name;
    void (*choose)(RunOptions&, const fs::path& value);
    fs::path value;
    std::optional<Refusal> refusal; // nothing: the run is prepared; its detail is the file's
    std::uint64_t memory = 8ULL << 30;
    bool lineDown = false;
  };
  const auto label = [](RunOptions& o, const fs::path& v) {
    o.format = true, o.diskLabel = v.string();
  };
  const auto serial = [](RunOptions& o, const fs::path& v) {
    o.writeParameter = true, o.serialStart = v.string();
  };
  const auto binary = [](RunOptions& o, const fs::path& v) { o.binaryArea = true, o.binPath = v; };
  const auto copy = [](RunOptions& o, const fs::path& v) {
    o.copyFiles = true, o.copyList.files[0] = {true, v.string()};
  };
  const Case cases[] = {
      {"label FAT cannot hold", label, "A:B", Refusal{text::kLabelNotFat, {"A:B"}}},
      // The tests run in the C locale (under wine, code page 1252), whose character set holds no
      // Chinese. The label is refused as the chooser passes it: through a path's narrow string,
      // which on Windows is the code page's reading of the bytes.
      {"label the character set cannot hold", label, "标签",
       Refusal{text::kLabelNotFat, {fs::path("标签").string()}}},
      {"serial past twelve digits", serial, "1000000000000",
       Refusal{text::kSerialTooLong, {"1000000000000"}}},
      {"folder", binary, folder, Refusal{text::kNotARegularFile, {folder.string()}}},
      {"4 GiB", binary, huge, Refusal{text::kImageTooLarge, {huge.string()}}},
      {"no file", binary, dir / "gone.bin",
       Refusal{text::kBinaryLoadFailed, {}, (dir / "gone.bin").string()}},
      {"too little memory", binary, image, Refusal{text::kRamTooSmall, {}, image.string()},
       40ULL << 20},
      {"copy entry gone", copy, "gone.txt",
       Refusal{text::kCopyFileLoadFailed, {}, (dir / "gone.txt").string()}},
      {"image read", binary, image, std::nullopt},
      {"image under a KiB, whatever the memory", binary, tiny, std::nullopt, 40ULL << 20},
      {"line down, serial written", serial, "1", Refusal{text::kLineGivesNoSerials, {"down"}},
       8ULL << 30, true},
      {"line down, no serial written", binary, image, std::nullopt, 8ULL << 30, true},
#ifndef _WIN32 // a device and a named pipe: Windows has neither as a path
      {"device", binary, "/dev/zero", Refusal{text::kNotARegularFile, {"/dev/zero"}}},
      {"fifo", binary, fifo, Refusal{text::kNotARegularFile, {fifo.string()}}},
#endif
  };
  LineDown line;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SerialCounter serials;
    if (c.lineDown) serials.takeFrom(&line);
    fake.system.memoryBytes = c.memory;
    RunOptions options;
    options.card.vid = "3C7D", options.card.pid = "A7";
    c.choose(options, c.value);
    const Preparation prepared = prepareRun(options, fake.platform, serials);
    ASSERT_EQ(prepared.refusal.has_value(), c.refusal.has_value());
    if (c.refusal) {
      EXPECT_EQ(prepared.refusal->text, c.refusal->text);
      EXPECT_EQ(prepared.refusal->arguments, c.refusal->arguments);
      // The file, then the system's own words for what is wrong with it.
      const std::string& detail = prepared.refusal->detail;
      const std::string& file = c.refusal->detail;
      if (file.empty()) {
        EXPECT_EQ(detail, "");
      } else {
        EXPECT_TRUE(detail.starts_with(file + ": ") && detail.size() > file.size() + 2) << detail;
      }
    }
    EXPECT_EQ(prepared.run.has_value(), !c.refusal.has_value());
    if (prepared.run && c.value == image) {
      EXPECT_EQ(prepared.run->images.binary.size(), 4096u);
      EXPECT_EQ(prepared.run->images.binAreaSize, 4096u + 512u);
      EXPECT_EQ(prepared.run->neededSectors, (4096u + 512u) / 512u);
    }
    // A refused copy entry is dropped from the list the station keeps.
    if (c.choose == +copy) {
      EXPECT_FALSE(prepared.copyList.files[0].chosen);
    }
  }
  // Every preparation, refused or not, names the identity to the system as typed.
  EXPECT_EQ(fake.system.ignoredIdentities, std::vector<std::string>(std::size(cases), "3C7D/A7"));
  EXPECT_EQ(refusalText(Refusal{text::kImageTooLarge, {"/x.bin"}}, 0),
            "/x.bin: an image of 4 GiB or more cannot be written to a card, so no run starts");
}

} // namespace
} // namespace tarvix::run
