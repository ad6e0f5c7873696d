// The station's command line as automation uses it: a headless scan with its report, and clear
// refusals of bad input.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "e2e/card_reading.h"
#include "support/csv.h"
#include "support/farm_text.h"
#include "support/temp_dir.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class CommandLine : public ::testing::Test {
protected:
  CommandLine() {
    // A copy of its own, so the settings it saves at exit land here and its lock is its own.
    station = dir / ("tarvix-cli-" + std::to_string(::getpid()));
    fs::copy_file(TARVIX_EXECUTABLE, station);
    // The trace file and the production log land here, not in the account's own state folder.
    ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    // As on a factory PC's service account: the toolkit would warn of it, were it started.
    ::unsetenv("XDG_RUNTIME_DIR");
  }

  fs::path write(const std::string& name, const std::string& content) {
    return dir.write(name, content);
  }
  static std::string read(const fs::path& path) { return tarvix::testing::readFile(path); }
  // Runs the station (or `program`, which starts it) with `args`; returns the exit status and
  // keeps what was printed.
  int run(const std::string& args, const std::string& program = {}) {
    const std::string command = (program.empty() ? station.string() : program) + " " + args + " >" +
                                (dir / "out").string() + " 2>" + (dir / "err").string() +
                                " </dev/null";
    const int status = std::system(command.c_str());
    out = read(dir / "out");
    err = read(dir / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Starts the station with `args` and its output dropped, `environment` ("NAME=value") added;
  // the pid is the station's own.
  pid_t start(const std::string& args, const std::string& environment = "") {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const std::string command =
          "exec env " + environment + " " + station.string() + " " + args + " >/dev/null 2>&1";
      ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      ::_exit(127);
    }
    return pid;
  }

  tarvix::testing::TempDir dir;
  fs::path station;
  std::string out;
  std::string err;
};

using tarvix::testing::cardSerial;
using tarvix::testing::csvRows;
using tarvix::testing::farmHub;
using tarvix::testing::farmReader;
using tarvix::testing::farmText;

const std::string kFarm = farmText(
    farmHub(2, farmReader(1, "r1", "VQ301C-A-1LUN", 8) + "," + farmReader(2, "r2", "VQ301A", 8),
            true),
    4, "0.001");

// Bad input and every refusal of the set-up exit 2 with one clear message, before any reader is
// opened, told apart from a reader that failed (1).
TEST_F(CommandLine, BadInputAndSetUpRefusalsExitTwoBeforeAnyReaderIsTouched) {
  const fs::path badFarm = write("bad.json", R"({"hostControllers": [{"rootHubPorts": 2,
    "attached": [{"port": 3, "reader": {"id": "x", "model": "VQ301A", "cardMiB": 8}}]}]})");
  const std::string hub = "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\n";
  const std::string onFarm = "--headless --farm " + write("farm.json", kFarm).string() +
                             " --settings " + (dir / "s.ini").string() + " --report ";
  const std::string report = onFarm + (dir / "r.json").string();
  const struct {
    std::string settings; // of s.ini
    std::string args;
    std::string message;
  } refusals[] = {
      {"", "--headless --scan-only --farm " + badFarm.string(), "bad.json"},
      {"", "--headless --scan-only --settings " + (dir / "none.ini").string(), "cannot be read"},
      {"", "--frobnicate", "unknown option '--frobnicate'"},
      {"", "--scan-only", ""},
      {"", "--simulate --farm x.json", ""},
      {"[Test Item]\r\nnICType=3\r\nbCheckFormat=1\r\n", report, "no port-mapping mode"},
      {"[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=4\r\nbCheckAutorun=1\r\n"
       "szISOFilePath=" +
           (dir / "none.iso").string() + "\r\n",
       report,
       "Load ISO file Fail...... Please check again!! (" + (dir / "none.iso").string() +
           ": No such file or directory)\n"},
      {hub + "bCheckCopyFile=1\r\n[Copy File]\r\nbCheckFile01=1\r\nszFilePath01=" +
           (dir / "none.txt").string() + "\r\n",
       report, "Load \"copy file\" fail"},
      {hub + "bCheckFormat=1\r\n", onFarm + (dir / "no/such/folder/r.json").string(),
       "cannot be written"},
      {hub + "bCheckFormat=1\r\n", report + " --log " + (dir / "no/such/folder/p.csv").string(),
       "p.csv: cannot be written"},
      // A run that writes serial numbers on a line that cannot give them, and a password where
      // anyone who reads the command line or the settings would see it.
      {hub + "bCheckCardInforEnable=1\r\n", report + " --line 'host=127.0.0.1 port=1'",
       "The production line cannot give serial numbers, so no run starts"},
      {hub + "[Line]\r\nszConnection=password=secret\r\n", report, "names a password"},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.args);
    write("s.ini", refusal.settings);
    EXPECT_EQ(run(refusal.args), 2);
    EXPECT_NE(err.find(refusal.message), std::string::npos) << err;
    EXPECT_EQ(out, "");
    EXPECT_EQ(read(dir / "state/tarvix/trace.log").find("GetUSBDeviceHandle"), std::string::npos)
        << "a reader was opened";
  }
  EXPECT_EQ(run("--help"), 0);
  EXPECT_NE(out.find("--scan-only"), std::string::npos);
  EXPECT_EQ(run("--version"), 0);
  EXPECT_EQ(out, "tarvix " TARVIX_VERSION "\n");
}

// A farm run leaves one production record per finished port, in the state folder and in the
// --log file alike, matching the report; trace lines go to the trace file, each naming its port,
// and, without --trace, nowhere near standard error. A box a worker shows names its port.
TEST_F(CommandLine, AFarmRunLeavesAProductionLogThatMatchesTheReport) {
  const fs::path farm = write("farm.json", R"({"imageDir": "img", "timeScale": 0.001,
    "hostControllers": [{"rootHubPorts": 4, "attached": [{"port": 2, "hub": {"ports": 7,
    "attached": [
      {"port": 1, "reader": {"id": "r1", "model": "VQ301C-A-1LUN", "cardMiB": 16}},
      {"port": 2, "reader": {"id": "r2", "model": "VQ301C-A-1LUN", "cardMiB": 16, "faults":
        [{"command": "WriteSector", "after": 3, "fault": "fail"}]}},
      {"port": 3, "reader": {"id": "r3", "model": "VQ301C-A-1LUN", "cardMiB": 16, "faults":
        [{"command": "SetBinAreaSize", "after": 0, "fault": "fail"}]}},
      {"port": 4, "hub": {"ports": 4, "attached": [
        {"port": 1, "reader": {"id": "deep", "model": "VQ301C-A-1LUN", "cardMiB": 16}}]}}]}}]}]})");
  // The binary image is large enough for the system's free memory to be measured against it.
  // The model has no CD-ROM area: its checked box (with an image that is not there) is unchecked
  // as in the window, neither refusing the run nor laying an area.
  const fs::path settings =
      write("s.ini", "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\n"
                     "nICType=3\r\nbCheckLowFormat=1\r\nbCheckFormat=1\r\nbCheckRWTest=1\r\n"
                     "bCheckAutorun=1\r\nszISOFilePath=" +
                         (dir / "none.iso").string() +
                         "\r\n"
                         "nRWTestCount=1\r\nbCheckCardInforEnable=1\r\nbCheckBinFile=1\r\n"
                         "szBinFilePath=" +
                         write("hidden.bin", std::string(4096, 'h')).string() +
                         "\r\n[CardInfor]\r\nszSerialNum=000000000007\r\nbIncrease=1\r\n");
  ASSERT_EQ(run("--headless --farm " + farm.string() + " --settings " + settings.string() +
                " --report " + (dir / "report.json").string() + " --log " +
                (dir / "mine.csv").string()),
            1)
      << err;
  const std::string log = read(dir / "state/tarvix/production.csv");
  EXPECT_EQ(read(dir / "mine.csv"), log);
  const auto rows = csvRows(log);
  ASSERT_EQ(rows.size(), 4u) << log;
  EXPECT_EQ(rows[0][2], "port");
  const auto report = nlohmann::json::parse(read(dir / "report.json"));
  std::set<int> logged;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto& row = rows[i];
    ASSERT_EQ(row.size(), 13u) << log;
    const int n = std::stoi(row[2]);
    logged.insert(n);
    const auto& port = report["ports"][n - 1];
    const auto& production = port["production"];
    EXPECT_EQ(row[0], production["time"]);
    EXPECT_EQ(row[3], production["usbPath"]);
    EXPECT_EQ(row[4], port["slots"][0]["label"]);
    EXPECT_EQ(row[5], "VQ301C-A-1LUN");
    EXPECT_EQ(row[7], production["serial"]);
    EXPECT_EQ(row[10], port["picture"] == "pass" ? "pass" : "fail") << n;
    EXPECT_EQ(row[10], production["result"]);
    EXPECT_EQ(row[11], production["failure"]);
    EXPECT_EQ(row[12], production["capacityCheck"]);
    EXPECT_EQ(production.dump().find("CD-ROM"), std::string::npos) << n;
  }
  EXPECT_EQ(logged, (std::set<int>{1, 2, 3}));
  EXPECT_EQ(report["ports"][1]["production"]["failure"], "Test Low level Format Fail!!");
  EXPECT_EQ(report["ports"][2]["production"]["failure"], "SetBinAreaSize  Error!");
  EXPECT_NE(err.find("tarvix: port 3: SetBinAreaSize  Error!\n"), std::string::npos) << err;
  EXPECT_NE(err.find("\ntarvix: 1 passed, 2 failed (port 2: Test Low level Format Fail!!; port 3: "
                     "SetBinAreaSize  Error!), 0 refused\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(rows[1][3].substr(0, 4), "1-2.");
  // Each passed reader's serial number is in the log, once; the one that failed before its card
  // information got none.
  std::set<std::string> serials;
  for (std::size_t i = 1; i < rows.size(); ++i)
    serials.insert(rows[i][7]);
  EXPECT_EQ(serials, (std::set<std::string>{"", "000000000007", "000000000008"})) << log;

  // The reader behind the inner hub sits dark, and the operator is told why.
  ASSERT_EQ(report["withoutPortBox"].size(), 1u);
  EXPECT_NE(
      err.find("attached but given no port box: " + report["withoutPortBox"][0].get<std::string>()),
      std::string::npos)
      << err;
  EXPECT_TRUE(std::regex_search(read(dir / "state/tarvix/trace.log"),
                                std::regex(R"(\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} port 1: )"
                                           R"(m_hUSBDeviceHandle close handle\n)")));
  EXPECT_EQ(err.find("m_hUSBDeviceHandle"), std::string::npos) << err;
  EXPECT_TRUE(std::regex_search(err, std::regex("^(tarvix: .*\n)+$")))
      << "not the station's: " << err;
  EXPECT_EQ(out, "") << "live progress lines went into a pipe";

  // A scan alone succeeds and reports every port box.
  ASSERT_EQ(run("--headless --scan-only --trace --farm " + farm.string() + " --settings " +
                settings.string() + " --report " + (dir / "scan.json").string()),
            0);
  EXPECT_NE(err.find("m_hUSBDeviceHandle close handle"), std::string::npos) << err;
  EXPECT_EQ(nlohmann::json::parse(read(dir / "scan.json"))["ports"].size(), 21u);
}

// A reader the station refused was not prepared: the run does not count as passed, and the report
// and the operator are told which port and why. On a terminal a run shows a live line for each
// started port, and its result at the end.
TEST_F(CommandLine, ARefusedReaderFailsTheRunAndATerminalShowsEachStartedPort) {
  const fs::path farm = write("farm.json", kFarm);
  const fs::path settings = write("s.ini", "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\n"
                                           "nICType=3\r\nbCheckFormat=1\r\n");
  // script(1) gives the station a terminal of its own, and its standard error with it.
  ASSERT_EQ(run("-qec '" + station.string() + " --headless --farm " + farm.string() +
                    " --settings " + settings.string() + " --report " + (dir / "r.json").string() +
                    "' /dev/null",
                "script"),
            1)
      << err;
  EXPECT_NE(out.find("port  1  "), std::string::npos) << out;
  EXPECT_NE(out.rfind("pass"), std::string::npos) << out;
  EXPECT_NE(out.find("port 2 not started: Not VQ301C -A-1LUN!!"), std::string::npos) << out;
  EXPECT_NE(out.find("tarvix: 1 passed, 0 failed, 1 refused (port 2)"), std::string::npos) << out;
  EXPECT_EQ(out.find("port  2  "), std::string::npos) << out;
  const auto report = nlohmann::json::parse(read(dir / "r.json"));
  EXPECT_EQ(report["ports"][0]["picture"], "pass");
  EXPECT_FALSE(report["ports"][0].contains("refused"));
  EXPECT_EQ(report["ports"][1]["refused"], "Not VQ301C -A-1LUN!!");
}

TEST_F(CommandLine, AStationKilledAfterWritingASerialNeverHandsItOutAgain) {
  // A long read/write test after the card information, and a poll period of 100 ms, keep the
  // station busy after the serial number is on the card, so the kill lands before any exit save.
  const fs::path farm =
      write("farm.json",
            farmText(farmReader(1, "r1", "VQ301C-A-1LUN", 16, R"(, "writeMBps": 2)"), 2, "0.05"));
  const fs::path settings =
      write("line.ini", "[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=3\r\n"
                        "bCheckCardInforEnable=1\r\nbCheckRWTest=1\r\nnRWTestCount=500\r\n"
                        "[CardInfor]\r\nszSerialNum=000000000500\r\nbIncrease=1\r\n");
  const std::string args = " --headless --farm " + farm.string() + " --settings " +
                           settings.string() + " --report " + (dir / "report.json").string();
  const fs::path card = dir / "img" / "r1.img";

  const pid_t first = start(args);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (cardSerial(card).empty() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  kill(first, SIGKILL);
  int status = 0;
  waitpid(first, &status, 0);
  ASSERT_EQ(cardSerial(card), "000000000500");
  ASSERT_TRUE(WIFSIGNALED(status)) << "the station ended before it could be killed";

  EXPECT_EQ(run(args), 0) << err;
  EXPECT_EQ(cardSerial(card), "000000000501");
  EXPECT_NE(read(settings).find("szSerialNum=000000000502"), std::string::npos);
}

// Stations on one computer that share a settings file (an installed station's, whichever account
// runs it) share its counter and production log: running at once, they never hand a serial
// number out twice nor mix their log rows.
TEST_F(CommandLine, StationsSharingOneCounterNeverShareASerialNumber) {
  constexpr int kStations = 3;
  constexpr int kReaders = 7;
  const fs::path settings =
      write("shared.ini", "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\n"
                          "bCheckCardInforEnable=1\r\n"
                          "[CardInfor]\r\nszSerialNum=000000000100\r\nbIncrease=1\r\n");
  std::vector<pid_t> stations;
  for (int s = 0; s < kStations; ++s) {
    std::string readers;
    for (int r = 1; r <= kReaders; ++r) {
      readers +=
          (r > 1 ? "," : "") +
          farmReader(r, "s" + std::to_string(s) + "r" + std::to_string(r), "VQ301C-A-1LUN", 8);
    }
    const fs::path farm =
        write("farm" + std::to_string(s) + ".json", farmText(farmHub(2, readers), 4, "0.001"));
    stations.push_back(start("--headless --farm " + farm.string() + " --settings " +
                             settings.string() + " --report /dev/null"));
  }
  for (const pid_t pid : stations) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::set<std::string> serials;
  for (int s = 0; s < kStations; ++s) {
    for (int r = 1; r <= kReaders; ++r)
      serials.insert(
          cardSerial(dir / "img" / ("s" + std::to_string(s) + "r" + std::to_string(r) + ".img")));
  }
  std::set<std::string> expected;
  for (int n = 100; n < 100 + kStations * kReaders; ++n)
    expected.insert("000000000" + std::to_string(n));
  EXPECT_EQ(serials, expected);
  EXPECT_NE(read(settings).find("szSerialNum=000000000121\r\n"), std::string::npos);
  const auto rows = csvRows(read(dir / "state/tarvix/production.csv"));
  ASSERT_EQ(rows.size(), 1u + kStations * kReaders);
  std::set<std::string> logged;
  for (std::size_t i = 1; i < rows.size(); ++i)
    logged.insert(rows[i].at(7));
  EXPECT_EQ(logged, expected);
}

// A copy tool that stalls dies with the station that started it, even when the station itself is
// killed outright: nothing of the station goes on writing a card after it is gone.
TEST_F(CommandLine, AStalledCopyToolDiesWithAKilledStation) {
  const fs::path bin = dir / "bin";
  fs::create_directories(bin);
  const fs::path pidFile = dir / "copy-tool.pid";
  write("bin/mcopy", "#!/bin/sh\necho $$ > " + pidFile.string() + "\nexec sleep 60\n");
  fs::permissions(bin / "mcopy", fs::perms::owner_all);
  const fs::path farm = write("farm.json", kFarm);
  write("readme.txt", "for every card\n");
  const fs::path settings =
      write("s.ini", "[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\n"
                     "bCheckFormat=1\r\nbCheckCopyFile=1\r\n[Copy File]\r\nbCheckFile01=1\r\n"
                     "szFilePath01=" +
                         (dir / "readme.txt").string() + "\r\n");
  const pid_t stationPid =
      start("--headless --farm " + farm.string() + " --settings " + settings.string() +
                " --report " + (dir / "report.json").string(),
            "PATH=" + bin.string() + ":" + std::getenv("PATH"));
  pid_t tool = 0;
  for (int i = 0; i < 1000 && tool == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream(pidFile) >> tool;
  }
  ASSERT_NE(tool, 0) << "the copy tool never started";
  ::kill(stationPid, SIGKILL);
  ::waitpid(stationPid, nullptr, 0);
  bool gone = false;
  for (int i = 0; i < 300 && !gone; ++i) {
    std::ifstream stat("/proc/" + std::to_string(tool) + "/stat");
    std::string pidField, name, state;
    gone = !(stat >> pidField >> name >> state) || state == "Z";
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone) << "the copy tool outlived the station";
}

// While a station runs, a second start of the same executable on the same readers ends at once:
// silently with a window, as an operator expects, but headless with exit 2 and one message, as a
// script must not read its silence as every reader passed. The first keeps running.
TEST_F(CommandLine, ASecondStartEndsAtOnceWhileTheFirstRuns) {
  const fs::path farm =
      write("farm.json",
            farmText(farmReader(1, "r1", "VQ301C-A-1LUN", 16, R"(, "writeMBps": 2)"), 2, "0.05"));
  const fs::path settings =
      write("s.ini", "[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=3\r\n"
                     "bCheckRWTest=1\r\nnRWTestCount=5000\r\n");
  const std::string onFarm = " --farm " + farm.string() + " --settings " + settings.string();
  const pid_t first = start("--headless" + onFarm);
  // The first holds the lock once its open files show it.
  const std::string lock = "." + station.stem().string();
  bool holds = false;
  for (int i = 0; i < 200 && !holds; ++i) {
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(first) + "/fd", error)) {
      const std::string name = fs::read_symlink(fd.path(), error).filename().string();
      holds = holds || (name.starts_with(lock) && name.ends_with(".instance.lock"));
    }
    if (!holds) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (holds) {
    const struct {
      std::string args;
      int exit;
      std::string said;
    } seconds[] = {
        {"--headless" + onFarm, 2,
         "tarvix: another station is running on these readers, so this one does nothing\n"},
        {onFarm, 0, ""},
    };
    for (const auto& second : seconds) {
      SCOPED_TRACE(second.args);
      EXPECT_EQ(run(second.args, "timeout 10 " + station.string()), second.exit);
      EXPECT_EQ(out + err, second.said);
    }
    EXPECT_EQ(::waitpid(first, nullptr, WNOHANG), 0) << "the first station keeps running";
  }
  ::kill(first, SIGKILL);
  ::waitpid(first, nullptr, 0);
  EXPECT_TRUE(holds) << "the first station never took its lock";
}

} // namespace
