// The production log's rows: RFC 4180 fields that no value can break, and a file that keeps every
// record it was given, header once, even across station starts.
#include <gtest/gtest.h>

#include "log/production_log_file.h"
#include "support/temp_dir.h"

#include <string>
#include <vector>

namespace {

using tarvix::log::ProductionRecord;
using tarvix::testing::readFile;

class ProductionLog : public ::testing::Test {
protected:
  static ProductionRecord record(const std::string& failure) {
    ProductionRecord r;
    r.time = {2026, 12, 8, 9, 5, 7, 0};
    r.host = "line-3";
    r.port = 12;
    r.usbPath = "1-2.5";
    r.drives = "D: E:";
    r.model = "VQ301C-A-2LUN";
    r.capacityMiB = 7;
    r.serial = "000000000042";
    r.vidPid = "3C7D:A706";
    r.steps = {{"format", 120}, {"read/write test", 3400}};
    r.result = tarvix::log::PortResult::Fail;
    r.failure = failure;
    return r;
  }

  tarvix::testing::TempDir dir;
  std::vector<std::string> warnings;
  std::function<void(const std::string&)> warn = [this](const std::string& w) {
    warnings.push_back(w);
  };
};

TEST_F(ProductionLog, AValueNeverBreaksARow) {
  const std::string head = "2026-12-08 09:05:07,line-3,12,1-2.5,D: E:,VQ301C-A-2LUN,7,000000000042,"
                           "3C7D:A706,format 120 ms;read/write test 3400 ms,fail,";
  const struct {
    std::string failure;
    std::string field;
  } rows[] = {
      {"R/W Fail!!", "R/W Fail!!"},
      {"", ""},
      {"a, b", "\"a, b\""},
      {"say \"no\"", "\"say \"\"no\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"bare\nfeed", "\"bare\nfeed\""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(tarvix::log::csvRow(record(row.failure)), head + row.field + ",\r\n") << row.failure;
  }
}

TEST_F(ProductionLog, EveryRecordIsOnDiskWhenAddReturnsAndTheHeaderComesOnce) {
  const auto file = dir / "logs/production.csv";
  {
    tarvix::log::ProductionLogFiles log({file}, warn);
    log.add(record("first"));
    // Read while the log is still open: nothing may wait in a buffer for a crash to lose.
    EXPECT_EQ(readFile(file), tarvix::log::csvHeader() + tarvix::log::csvRow(record("first")));
  }
  tarvix::log::ProductionLogFiles again({file}, warn);
  again.add(record("second"));
  EXPECT_EQ(readFile(file), tarvix::log::csvHeader() + tarvix::log::csvRow(record("first")) +
                                tarvix::log::csvRow(record("second")));
  EXPECT_TRUE(warnings.empty());
}

TEST_F(ProductionLog, AFileThatCannotBeWrittenIsToldOnceAndTheOthersGoOn) {
  dir.write("blocker", "a file where a folder should be");
  const auto good = dir / "production.csv";
  tarvix::log::ProductionLogFiles log({dir / "blocker/production.csv", good}, warn);
  log.add(record("one"));
  log.add(record("two"));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("blocker/production.csv"), std::string::npos);
  EXPECT_EQ(readFile(good), tarvix::log::csvHeader() + tarvix::log::csvRow(record("one")) +
                                tarvix::log::csvRow(record("two")));
}

} // namespace
