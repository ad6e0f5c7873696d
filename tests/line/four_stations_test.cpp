// Four stations of one line, each a process of its own on a farm of 21 readers, taking from one
// series at once; one station is killed mid-run and the database restarted mid-run. Afterwards
// every number is on one card at most, every number taken is on a card or void, and every port a
// station logged as finished is one record in the line.
#include "e2e/card_reading.h"
#include "line_fixture.h"
#include "support/csv.h"
#include "support/farm_text.h"

#include <csignal>
#include <map>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarvix::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kStations = 4;
constexpr int kHubs = 3; // of seven readers each
constexpr int kKilled = 3;

// The readers write at paces from 3 to 12 MB/s in real time, so a station's ports reach their card
// information (and take their numbers) one after another over a few seconds, however fast the
// machine is.
RunSteps lineSteps() {
  RunSteps steps;
  steps.icType = 3;
  steps.llf = true;
  steps.cardInfo = true;
  steps.label = "LINE";
  return steps;
}
const RunSteps kSteps = lineSteps();

std::string readerId(int root, int port) {
  return "r" + std::to_string(root) + "_" + std::to_string(port);
}

std::string farmOf() {
  std::string hubs;
  for (int root = 1; root <= kHubs; ++root) {
    std::string readers;
    for (int port = 1; port <= 7; ++port) {
      const std::string pace = R"(, "writeMBps": )" + std::to_string(3 + (port + root) % 7 * 1.5);
      readers += (port > 1 ? "," : "") +
                 farmReader(port, readerId(root, port), kReaderKinds[3].model, 16, pace);
    }
    hubs += (root > 1 ? "," : "") + farmHub(root, readers, true);
  }
  return farmText(hubs, kHubs, "1.0");
}

TEST_F(LineDatabase, FourStationsKeepEveryNumberOnOneCardAndAccountedForThroughAKillAndARestart) {
  for (int s = 0; s < kStations; ++s) {
    fs::create_directories(stationFolder(s));
    writeFile(stationFolder(s) / "farm.json", farmOf());
    writeFile(stationFolder(s) / "settings.ini", settingsText(kSteps, stationFolder(s)) +
                                                     "[Line]\r\nszStation=st" + std::to_string(s) +
                                                     "\r\n");
  }
  std::vector<pid_t> stations;
  for (int s = 0; s < kStations; ++s)
    stations.push_back(startStation(s, false));

  // The killed station has taken numbers, and has ports still to take theirs.
  ASSERT_TRUE(waitFor([&] { return takenWhere("station = 'st3'") >= 5; }));
  ::kill(stations[kKilled], SIGKILL);
  int status = 0;
  ::waitpid(stations[kKilled], &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "station st3 ended before it was killed";
  ASSERT_TRUE(waitFor([&] { return takenWhere("true") >= 40; }));
  ASSERT_LT(takenWhere("true"), 3 * 21 + 21) << "every number was taken before the restart";
  ASSERT_EQ(std::system("pg_ctlcluster \"$PGVERSION\" regress restart"), 0);
  for (int s = 0; s < kStations; ++s) {
    if (s == kKilled) continue;
    ::waitpid(stations[s], &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "st" << s << ": " << status;
  }
  // Started again, the killed station sends what it logged and writes off what it left.
  ::waitpid(startStation(kKilled, true), &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  std::map<std::string, int> onCards;
  for (int s = 0; s < kStations; ++s) {
    for (const auto& card : fs::directory_iterator(stationFolder(s) / "img")) {
      if (const std::string serial = cardSerial(card.path()); !serial.empty()) ++onCards[serial];
    }
  }
  for (const auto& [serial, cards] : onCards)
    EXPECT_EQ(cards, 1) << serial << " is on " << cards << " cards";

  std::set<std::string> taken;
  for (const std::string& use : rows("SELECT serial, state FROM tarvix.serial_use")) {
    const std::string serial = use.substr(0, use.find('|'));
    const std::string state = use.substr(use.find('|') + 1);
    taken.insert(serial);
    EXPECT_TRUE(onCards.contains(serial) ? state != "taken" : state == "void") << use;
  }
  for (const auto& [serial, cards] : onCards)
    EXPECT_TRUE(taken.contains(serial)) << serial << " did not come from the line";
  EXPECT_GE(onCards.size(), std::size_t{3 * 21});

  // station|port|time|serial|result, as the line has it and as each station logged it.
  std::multiset<std::string> recorded;
  for (const std::string& r : rows("SELECT station, port, finished_at, serial, result "
                                   "FROM tarvix.production_record"))
    recorded.insert(r);
  std::size_t logged = 0;
  fs::create_directories(dir / "scratch");
  for (int s = 0; s < kStations; ++s) {
    auto log = csvRows(readFile(stationFolder(s) / "state" / "tarvix" / "production.csv"));
    if (!log.empty()) log.erase(log.begin()); // the header
    if (s != kKilled) {
      EXPECT_EQ(log.size(), 21u) << "st" << s;
    }
    for (const auto& row : log) {
      const std::string key =
          "st" + std::to_string(s) + "|" + row[2] + "|" + row[0] + "|" + row[7] + "|" + row[10];
      EXPECT_EQ(recorded.count(key), 1u) << key;
      recorded.erase(key);
      ++logged;
      if (s == kKilled || row[10] != "pass") continue;
      // The card at the record's position holds what the record says, read as a customer would.
      const int root = std::stoi(row[3].substr(2));
      const int port = std::stoi(row[3].substr(row[3].find('.') + 1));
      PreparedCard card = expectedCard(kReaderKinds[3], kSteps, {});
      TypedIdentity identity = kIdentity;
      identity.serial = row[7];
      card.infoSector = expectedInfoSector(0, 0, &identity);
      card.image = stationFolder(s) / "img" / (readerId(root, port) + ".img");
      EXPECT_EQ(readBack(card, dir / "scratch"), std::vector<std::string>{}) << key;
    }
  }
  // A record may reach the spool just before its station is killed, and not its log.
  for (const std::string& extra : recorded)
    EXPECT_EQ(extra.substr(0, 4), "st3|") << extra;
  EXPECT_GE(logged, 3u * 21);
}

} // namespace
} // namespace tarvix::testing
