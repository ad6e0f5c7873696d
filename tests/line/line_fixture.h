// A line database of its own for each test, in the private PostgreSQL cluster the test command
// starts (pg_virtualenv sets PGHOST, PGPORT, PGUSER and PGPASSWORD): made, given the line's
// schema, and dropped afterwards.
#pragma once

#include "line/database.h"
#include "line/schema.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

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

  line::Database admin{"dbname=postgres"};
  std::string name;
  std::string connection;
  TempDir dir;
};

} // namespace tarvix::testing
