// A line database of its own for each test, in the private PostgreSQL cluster the test command
// starts (pg_virtualenv sets PGHOST, PGPORT, PGUSER and PGPASSWORD): made, given the line's
// schema, and dropped afterwards; and the line's stations started on it as processes.
#pragma once

#include "line/database.h"
#include "line/schema.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarvix::testing {

class LineDatabase : public ::testing::Test {
protected:
  LineDatabase() {
    name = "line_" + std::to_string(std::random_device{}());
    const line::Reply made = admin.run("CREATE DATABASE " + name);
    if (!made.ok) ADD_FAILURE() << made.error << " (run the line tests under pg_virtualenv)";
    connection = "dbname=" + name;
    line::Database owner(connection);
    std::string said;
    if (!line::initialiseLine(owner, said)) ADD_FAILURE() << said;
  }
  ~LineDatabase() override { admin.run("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)"); }

  // `sql` run as the database's owner; its rows, each row's columns joined by "|".
  std::vector<std::string> rows(const std::string& sql) {
    const line::Reply reply = line::Database(connection).run(sql);
    EXPECT_TRUE(reply.ok) << sql << ": " << reply.error;
    std::vector<std::string> texts;
    for (const line::Row& row : reply.rows) {
      std::string text;
      for (std::size_t i = 0; i < row.size(); ++i)
        text += (i > 0 ? "|" : "") + row[i].value_or("NULL");
      texts.push_back(text);
    }
    return texts;
  }

  // A station of the line as a process of its own, headless on the farm and with the settings in
  // its folder, its state folder there too.
  std::filesystem::path stationFolder(int s) const { return dir / ("st" + std::to_string(s)); }
  pid_t startStation(int s, bool scanOnly) {
    const std::filesystem::path f = stationFolder(s);
    std::vector<std::string> args = {TARVIX_EXECUTABLE, "--headless",
                                     "--farm",          (f / "farm.json").string(),
                                     "--settings",      (f / "settings.ini").string(),
                                     "--line",          connection,
                                     "--report",        (f / "report.json").string()};
    if (scanOnly) args.insert(args.begin() + 2, "--scan-only");
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("XDG_STATE_HOME", (f / "state").c_str(), 1);
      std::vector<char*> argv;
      for (std::string& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return pid;
  }
  // Serial numbers taken so far that match `where`.
  int takenWhere(const std::string& where) {
    const auto r = rows("SELECT count(*) FROM tarvix.serial_use WHERE " + where);
    return r.empty() ? 0 : std::stoi(r[0]);
  }
  // Waits until `done`, at most a minute.
  template <typename Done> static bool waitFor(Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (; std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      if (done()) return true;
    }
    return false;
  }

  line::Database admin{"dbname=postgres"};
  std::string name;
  std::string connection;
  TempDir dir;
};

} // namespace tarvix::testing
