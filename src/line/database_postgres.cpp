#include "line/database.h"

#include <libpq-fe.h>

namespace tarvix::line {
namespace {

// Said when the station names a password where other people or files could read it.
constexpr std::string_view kPasswordRefused =
    "the line's connection names a password; keep it in ~/.pgpass, the service file "
    "(pg_service.conf) or PGPASSWORD instead";

// What a station asks of every connection unless the connection text says otherwise: a dead
// server is noticed within seconds rather than at the operating system's TCP time-outs, so a
// worker waiting for a serial number is told and its port fails.
constexpr const char* kDefaults[][2] = {
    {"connect_timeout", "5"},  {"keepalives_idle", "10"},     {"keepalives_interval", "2"},
    {"keepalives_count", "3"}, {"tcp_user_timeout", "15000"}, {"application_name", "tarvix"},
};

// libpq's message on one line: its hint lines follow a line break and a tab.
std::string trimmed(const char* message) {
  std::string text;
  for (const char* c = message != nullptr ? message : ""; *c != '\0'; ++c) {
    const bool space = *c == '\n' || *c == '\t';
    if (!space) {
      text += *c;
    } else if (!text.empty() && text.back() != ' ') {
      text += ' ';
    }
  }
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

// The server's notices ("schema ... already exists, skipping") are not the operator's business.
void ignoreNotice(void*, const char*) {}

} // namespace

struct Database::Connection {
  PGconn* pg = nullptr;
  ~Connection() { PQfinish(pg); }
};

Database::Database(std::string connection) : connection_(std::move(connection)) {}

Database::~Database() = default;

void Database::close() { live_.reset(); }

Reply Database::run(std::string_view sql, const std::vector<std::optional<std::string>>& params) {
  Reply reply;
  if (!live_ || PQstatus(live_->pg) != CONNECTION_OK) {
    live_ = std::make_unique<Connection>();
    // The connection text comes last and is expanded, so what it names wins over the defaults.
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [key, value] : kDefaults) {
      keys.push_back(key);
      values.push_back(value);
    }
    keys.push_back("dbname");
    values.push_back(connection_.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    live_->pg = PQconnectdbParams(keys.data(), values.data(), 1);
    if (PQstatus(live_->pg) != CONNECTION_OK) {
      reply.unreachable = true;
      reply.error = trimmed(PQerrorMessage(live_->pg));
      live_.reset();
      return reply;
    }
    PQsetNoticeProcessor(live_->pg, ignoreNotice, nullptr);
  }
  const std::string text(sql);
  PGresult* result = nullptr;
  if (params.empty()) {
    result = PQexec(live_->pg, text.c_str());
  } else {
    std::vector<const char*> values;
    for (const auto& p : params)
      values.push_back(p ? p->c_str() : nullptr);
    result = PQexecParams(live_->pg, text.c_str(), static_cast<int>(values.size()), nullptr,
                          values.data(), nullptr, nullptr, 0);
  }
  const ExecStatusType status = PQresultStatus(result);
  reply.ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  if (reply.ok) {
    for (int r = 0; r < PQntuples(result); ++r) {
      Row row;
      for (int c = 0; c < PQnfields(result); ++c) {
        if (PQgetisnull(result, r, c)) {
          row.emplace_back();
        } else {
          row.emplace_back(PQgetvalue(result, r, c));
        }
      }
      reply.rows.push_back(std::move(row));
    }
  } else {
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    reply.error = trimmed(primary != nullptr ? primary : PQerrorMessage(live_->pg));
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    reply.state = state != nullptr ? state : "";
    reply.unreachable = PQstatus(live_->pg) != CONNECTION_OK;
  }
  PQclear(result);
  if (reply.unreachable) live_.reset();
  return reply;
}

std::string connectionRefusal(std::string_view connection) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(std::string(connection).c_str(), &error);
  if (options == nullptr) {
    std::string why = "the line's connection cannot be read: " + trimmed(error);
    PQfreemem(error);
    return why;
  }
  bool password = false;
  for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (std::string_view(o->keyword) == "password" && o->val != nullptr && *o->val != '\0')
      password = true;
  }
  PQconninfoFree(options);
  return password ? std::string(kPasswordRefused) : std::string();
}

} // namespace tarvix::line
