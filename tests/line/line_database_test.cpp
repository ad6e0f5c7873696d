// The line database as stations and the report use it: the schema and its roles, serial numbers
// taken once each, records that wait in the spool while the line is down and arrive once, in
// order, and the report's text.
#include "line/line_report.h"
#include "line/line_station.h"
#include "line_fixture.h"
#include "platform/files/shared_file.h"
#include "platform/trace.h"

#include <set>
#include <thread>

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

class NoTrace final : public platform::TraceSink {
public:
  void line(std::string_view) override {}
};

log::ProductionRecord finished(int port, std::string serial, log::PortResult result) {
  log::ProductionRecord r;
  r.time = {2026, 12, 8, 14, 5, port, 0};
  r.host = "pc";
  r.port = port;
  r.model = "VQ301C-A-1LUN";
  r.serial = std::move(serial);
  r.result = result;
  return r;
}

TEST_F(LineDatabase, TheStationRoleMayOnlyTakeSerialNumbersAndAddRecords) {
  std::string said;
  line::Database owner(connection);
  ASSERT_TRUE(line::initialiseLine(owner, said));
  EXPECT_EQ(said, "the line's schema is at version 1; functions renewed");
  EXPECT_EQ(rows("SELECT version FROM tarvix.schema_version"), (std::vector<std::string>{"1"}));
  const std::string station = name + "_station";
  const std::string reader = name + "_report";
  rows("CREATE ROLE " + station + " LOGIN PASSWORD 'pw' IN ROLE tarvix_line");
  rows("CREATE ROLE " + reader + " LOGIN PASSWORD 'pw' IN ROLE tarvix_report");
  const std::string addRecord =
      "SELECT tarvix.add_record('r1', 's', 'default', '2026-12-08 14:00:00', 'pc', 1, '1-2.1', "
      "'E:', 'VQ301C-A-1LUN', 16, '000000000001', '1234:5678', '', 'pass', '', '', 's:1', '{}')";
  const struct {
    const std::string* role;
    std::string sql;
    bool allowed;
  } cases[] = {
      {&station, "SELECT tarvix.series_left('default')", true},
      {&station, "SELECT tarvix.take_serial('default', 's', 's', 1, 's:1')", true},
      {&station, addRecord, true},
      {&station, "SELECT tarvix.void_leftovers('s', 'x')", true},
      {&station, "SELECT * FROM tarvix.serial_use", false},
      {&station, "SELECT * FROM tarvix.production_record", false},
      {&station, "UPDATE tarvix.serial_series SET next_value = 1", false},
      {&station, "DELETE FROM tarvix.production_record", false},
      {&station,
       "INSERT INTO tarvix.serial_use (series, value, serial, take_id, station, session, port) "
       "VALUES ('default', 7, '7', 't', 's', 's', 1)",
       false},
      {&station, "CREATE TABLE tarvix.mine (a integer)", false},
      {&reader, "SELECT count(*) FROM tarvix.production_record", true},
      {&reader, "SELECT tarvix.take_serial('default', 'r', 'r', 1, 'r:1')", false},
      {&reader, "UPDATE tarvix.production_record SET result = 'pass'", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(*c.role + ": " + c.sql);
    const line::Reply reply =
        line::Database(connection + " user=" + *c.role + " password=pw").run(c.sql);
    EXPECT_EQ(reply.ok, c.allowed) << reply.error;
    if (!c.allowed) {
      EXPECT_EQ(reply.state, "42501") << reply.error; // insufficient privilege
    }
  }
  EXPECT_EQ(rows("SELECT serial, state FROM tarvix.serial_use"),
            (std::vector<std::string>{"000000000001|used"}));
}

TEST_F(LineDatabase, EachNumberIsTakenOnceAndARetriedTakeGetsItsOwnBack) {
  constexpr int kStations = 8;
  constexpr int kTakes = 40;
  std::vector<std::vector<std::string>> taken(kStations);
  std::vector<std::thread> stations;
  for (int s = 0; s < kStations; ++s) {
    stations.emplace_back([&, s] {
      line::Database db(connection);
      for (int t = 0; t < kTakes; ++t) {
        const line::Reply reply =
            db.run("SELECT tarvix.take_serial('default', $1, 'x', 1, $2)",
                   {"s" + std::to_string(s), std::to_string(s) + ":" + std::to_string(t)});
        taken[s].push_back(reply.ok ? reply.rows.at(0).at(0).value_or("") : reply.error);
      }
    });
  }
  for (std::thread& s : stations)
    s.join();
  std::set<std::string> all;
  for (const auto& serials : taken)
    all.insert(serials.begin(), serials.end());
  ASSERT_EQ(all.size(), std::size_t{kStations * kTakes});
  EXPECT_EQ(*all.begin(), "000000000001");
  EXPECT_EQ(*all.rbegin(), "000000000320");

  rows("INSERT INTO tarvix.serial_series (name, next_value, last_value, digits) "
       "VALUES ('small', 998, 999, 3)");
  line::Database db(connection);
  const struct {
    std::string series;
    std::string takeId;
    std::string answer; // the number, or the start of the refusal
  } takes[] = {
      {"small", "a", "998"},
      {"small", "a", "998"}, // the same take again: its own number, no new one
      {"small", "b", "999"},
      {"small", "c", "serial series \"small\" has no numbers left"},
      {"other", "d", "the line has no serial series \"other\""},
  };
  for (const auto& t : takes) {
    const line::Reply reply =
        db.run("SELECT tarvix.take_serial($1, 's', 'x', 2, $2)", {t.series, t.takeId});
    EXPECT_EQ(reply.ok ? *reply.rows.at(0).at(0) : reply.error, t.answer) << t.takeId;
  }
}

TEST_F(LineDatabase, RecordsWaitInTheSpoolWhileTheLineIsDownAndArriveOnceInOrder) {
  NoTrace trace;
  std::vector<std::string> warnings;
  line::LineConfig config{"host=127.0.0.1 port=1", "default", "st", dir / "st.spool", 300ms};
  {
    // A session that takes a number for port 4 and is ended before that port finishes.
    line::LineConfig up = config;
    up.connection = connection;
    line::LineStation station(up, trace, [&](const std::string& w) { warnings.push_back(w); });
    std::string why;
    ASSERT_EQ(station.take(4, why), "000000000001") << why;
  }
  {
    line::LineStation down(config, trace, [&](const std::string& w) { warnings.push_back(w); });
    std::string why;
    EXPECT_FALSE(down.ready(why));
    EXPECT_NE(why.find("the line database cannot be reached"), std::string::npos) << why;
    EXPECT_FALSE(down.take(1, why));
    for (const int port : {2, 3, 1})
      down.add(finished(port, "", log::PortResult::Fail));
    EXPECT_EQ(down.drain(200ms), 3u);
  }
  const std::string spooled = readFile(config.spool);
  config.connection = connection;
  {
    line::LineStation up(config, trace, [&](const std::string& w) { warnings.push_back(w); });
    ASSERT_EQ(up.drain(10s), 0u);
    // Port 5 takes two numbers and writes the second (its first card was written already).
    std::string why;
    ASSERT_EQ(up.take(5, why), "000000000002");
    ASSERT_EQ(up.take(5, why), "000000000003");
    up.add(finished(5, "000000000003", log::PortResult::Pass));
    // Sent again, as after a crash between sending and emptying the spool: stored once.
    ASSERT_TRUE(platform::files::appendShared(config.spool, {}, spooled, true));
    ASSERT_EQ(up.drain(10s), 0u);
  }
  EXPECT_EQ(rows("SELECT port, result FROM tarvix.production_record ORDER BY arrival"),
            (std::vector<std::string>{"2|fail", "3|fail", "1|fail", "5|pass"}));
  EXPECT_EQ(rows("SELECT serial, port, state FROM tarvix.serial_use ORDER BY value"),
            (std::vector<std::string>{"000000000001|4|void", "000000000002|5|void",
                                      "000000000003|5|used"}));
  EXPECT_EQ(readFile(config.spool), "");
  EXPECT_TRUE(warnings.empty());
}

TEST(LineReport, PerStationAndHourWithFailuresByTextAndSerialRanges) {
  const std::vector<line::ReportRow> rows = {
      {"a", "2026-12-08 14:00", "pass", "", "000000000009"},
      {"a", "2026-12-08 14:00", "pass", "", "000000000010"},
      {"a", "2026-12-08 14:00", "fail", "Fake card!! real 64 MB", "000000000012"},
      {"a", "2026-12-08 14:00", "pulled", "", ""},
      {"a", "2026-12-08 15:00", "default pass", "", ""},
      {"b", "2026-12-08 14:00", "fail", "Fake card!! real 64 MB", "000000000011"},
      {"b", "2026-12-08 14:00", "fail", "Fake card!! real 64 MB", "000000000013"},
  };
  EXPECT_EQ(line::reportText(rows, {{"a", 2, 1}, {"b", 0, 0}}),
            "a  2026-12-08 14:00  passed 2  failed 2  yield 50.0%\n"
            "    failed 1: Fake card!! real 64 MB\n"
            "    failed 1: pulled\n"
            "    serial numbers: 000000000009-000000000010, 000000000012\n"
            "a  2026-12-08 15:00  passed 1  failed 0  yield 100.0%\n"
            "    serial numbers: none\n"
            "b  2026-12-08 14:00  passed 0  failed 2  yield 0.0%\n"
            "    failed 2: Fake card!! real 64 MB\n"
            "    serial numbers: 000000000011, 000000000013\n"
            "a  serial numbers void 2, unsettled 1\n");
  EXPECT_EQ(line::reportText({}, {}), "no finished ports\n");
}

} // namespace
} // namespace tarvix::testing
