// The trace file stays bounded: the older part moves to trace.log.1, and no line is cut.
#include <gtest/gtest.h>

#include "platform/trace.h"
#include "support/temp_dir.h"

#include <string>

namespace {

TEST(TraceFile, KeepsTheNewestLinesWithinTwiceItsBound) {
  tarvix::testing::TempDir dir;
  const auto file = dir / "state/trace.log";
  {
    tarvix::platform::FileTrace trace(file, 100, false);
    ASSERT_TRUE(trace.writing());
    for (int i = 0; i < 40; ++i)
      trace.line("line " + std::to_string(i) + " of the trace");
  }
  const std::string newest = tarvix::testing::readFile(file);
  const std::string older = tarvix::testing::readFile(dir / "state/trace.log.1");
  EXPECT_LE(newest.size(), 100u);
  EXPECT_LE(older.size(), 100u);
  // The two files together hold an unbroken run of whole lines, ending with the last.
  const std::string kept = older + newest;
  const auto first = std::stoi(kept.substr(5));
  std::string expected;
  for (int i = first; i < 40; ++i)
    expected += "line " + std::to_string(i) + " of the trace\n";
  EXPECT_EQ(kept, expected);
}

TEST(TraceFile, AFolderThatCannotBeMadeLeavesNoFile) {
  tarvix::testing::TempDir dir;
  dir.write("blocker", "");
  tarvix::platform::FileTrace trace(dir / "blocker/trace.log", 100, false);
  EXPECT_FALSE(trace.writing());
  trace.line("goes nowhere, and nothing breaks");
}

} // namespace
