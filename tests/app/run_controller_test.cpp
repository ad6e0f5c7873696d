// The run control alone: what a run could not write, or an image it could not hold, stops it
// before it is prepared, and the operator is told which; the identity typed in reaches the system
// at each run start.
#include "app/control_table.h"
#include "app/run_controller.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"
#include "ui/headless/headless_host.h"

#include <gtest/gtest.h>

#include <fstream>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace tarvix::app {
namespace {

namespace fs = std::filesystem;

class Run : public ::testing::Test {
protected:
  template <typename Body> void onWindow(Body&& body) { host.runAndWait(body); }

  testing::TempDir dir;
  testing::FakePlatform fake;
  ui::HeadlessHost host;
  ControlModel controls{host, initialControls()};
  station::StationState state;
  RunInputs inputs;
  ProductionBook book;
  std::atomic<int> languageOffset{0};
  RunController run{fake.platform, host, controls, state, inputs, book, languageOffset};
};

TEST_F(Run, WhatARunCannotWriteOrHoldStopsItBeforeItStarts) {
#ifdef _WIN32
  GTEST_SKIP() << "stands a named pipe (mkfifo) in for the image; Windows has no such file";
#else
  const fs::path fifo = dir / "image.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path huge = dir / "huge.bin";
  { std::ofstream(huge, std::ios::binary).put('x'); }
  fs::resize_file(huge, 4ULL << 30); // sparse: nothing is written
  const fs::path folder = dir / "folder";
  fs::create_directory(folder);
  inputs.availableRamKiB = 8ULL << 20;

  struct Case {
    int step;
    int edit;
    std::string typed;
    fs::path image;
    std::string said;
  };
  // The serial edit shows thirteen digits after a run that passed 999999999999.
  const Case cases[] = {
      {id::kFormat, id::kDiskLabel, "A:B", {}, "Disk Label \"A:B\""},
      {id::kWriteParameter, id::kSerial, "1000000000000", {}, "Serial Number \"1000000000000\""},
      {id::kBinaryFile, 0, "", fifo, fifo.string() + ": not a regular file"},
      {id::kBinaryFile, 0, "", "/dev/zero", "/dev/zero: not a regular file"},
      {id::kBinaryFile, 0, "", folder, folder.string() + ": not a regular file"},
      {id::kBinaryFile, 0, "", huge, huge.string() + ": an image of 4 GiB or more"},
  };
  for (const Case& c : cases) {
    onWindow([&] {
      controls.setChecked(c.step, true);
      if (c.edit != 0) controls.setText(c.edit, c.typed);
      inputs.binPath = c.image;
      run.onAutoStart();
      controls.setChecked(c.step, false);
    });
    ASSERT_FALSE(host.messages().empty());
    EXPECT_NE(host.messages().back().find(c.said), std::string::npos) << host.messages().back();
    EXPECT_FALSE(run.runPrepared()) << c.said;
  }
#endif
}

TEST_F(Run, EachPreparationNamesTheTypedIdentityToTheSystem) {
  onWindow([&] {
    controls.setText(id::kVid, "3C7D");
    controls.setText(id::kPid, "A7");
    run.onAutoStart(); // prepared: no reader, so it polls
    run.onAutoStart(); // the poll's own call prepares nothing
  });
  EXPECT_EQ(fake.system.ignoredIdentities, std::vector<std::string>{"3C7D/A7"});
  EXPECT_TRUE(run.runPrepared());
}

} // namespace
} // namespace tarvix::app
