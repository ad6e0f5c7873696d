// The trace file stays bounded: the older part moves to trace.log.1, and no line is cut; each line
// says when and for which port it was written.
#include <gtest/gtest.h>

#include "platform/trace.h"
#include "support/temp_dir.h"

#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Each line: the time to the millisecond, the port of the thread that wrote it, the text as given.
const std::regex kLine(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (port \d+: )?(.*))");

TEST(TraceFile, KeepsTheNewestLinesWithinTwiceItsBoundEachWithItsTimeAndPort) {
  tarvix::testing::TempDir dir;
  const auto file = dir / "state/trace.log";
  {
    tarvix::platform::FileTrace trace(file, 300, false);
    ASSERT_TRUE(trace.writing());
    for (int i = 0; i < 40; ++i) {
      // Every third line from a port's worker, which names its port once.
      std::thread([&] {
        std::optional<tarvix::platform::TracedPortScope> port;
        if (i % 3 == 0) port.emplace(i % 21 + 1);
        trace.line("line " + std::to_string(i) + " of the trace");
      }).join();
    }
  }
  const std::string newest = tarvix::testing::readFile(file);
  const std::string older = tarvix::testing::readFile(dir / "state/trace.log.1");
  EXPECT_LE(newest.size(), 300u);
  EXPECT_LE(older.size(), 300u);
  // The two files together hold an unbroken run of whole lines, ending with the last.
  std::istringstream kept(older + newest);
  std::vector<int> numbers;
  for (std::string line; std::getline(kept, line);) {
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(line, parts, kLine)) << line;
    const int i = std::stoi(parts[3].str().substr(5));
    EXPECT_EQ(parts[3], "line " + std::to_string(i) + " of the trace");
    EXPECT_EQ(parts[2], i % 3 == 0 ? "port " + std::to_string(i % 21 + 1) + ": " : "");
    numbers.push_back(i);
  }
  ASSERT_FALSE(numbers.empty());
  for (std::size_t k = 0; k < numbers.size(); ++k)
    EXPECT_EQ(numbers[k], 40 - static_cast<int>(numbers.size() - k));
}

TEST(TraceFile, AFolderThatCannotBeMadeLeavesNoFile) {
  tarvix::testing::TempDir dir;
  dir.write("blocker", "");
  tarvix::platform::FileTrace trace(dir / "blocker/trace.log", 100, false);
  EXPECT_FALSE(trace.writing());
  trace.line("goes nowhere, and nothing breaks");
}

} // namespace
