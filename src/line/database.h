// One connection to the production line's PostgreSQL database, through libpq: statements with
// text parameters, the connection made when first needed and made again after it was lost. A
// connection text is a libpq connection string ("host=... dbname=...", a URI) or a service name
// from pg_service.conf ("service=line"); passwords come from ~/.pgpass, the service file or
// PGPASSWORD, never from the text. Not thread-safe: one owner at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::line {

using Row = std::vector<std::optional<std::string>>; // NULL is nothing

struct Reply {
  bool ok = false;
  // The database could not be reached or the connection broke: the statement may or may not
  // have been carried out. Otherwise a failure is the database's answer (`error`).
  bool unreachable = false;
  std::string error;
  std::string state; // the SQLSTATE of the database's answer, e.g. "23505"
  std::vector<Row> rows;
};

class Database {
public:
  explicit Database(std::string connection);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs `sql`, with $1, $2... taken from `parameters`; without parameters `sql` may hold several
  // statements, run as one transaction.
  Reply run(std::string_view sql, const std::vector<std::optional<std::string>>& parameters = {});
  // Gives the connection up; the next statement connects anew.
  void close();

private:
  struct Connection;
  std::string connection_;
  std::unique_ptr<Connection> live_;
};

// Why a connection text is refused before it is used, e.g. that it holds a password; empty when
// it may be used.
std::string connectionRefusal(std::string_view connection);

} // namespace tarvix::line
