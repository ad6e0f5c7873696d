// The Windows station is built without libpq: a line named to it is refused before any run.
#include "line/database.h"

namespace tarvix::line {

struct Database::Connection {};

Database::Database(std::string connection) : connection_(std::move(connection)) {}

Database::~Database() = default;

void Database::close() {}

Reply Database::run(std::string_view, const std::vector<std::optional<std::string>>&) {
  return {false, true, "this station is built without the production line", {}, {}};
}

std::string connectionRefusal(std::string_view) {
  return "this station is built without the production line (PostgreSQL)";
}

} // namespace tarvix::line
