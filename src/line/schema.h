// The line database's schema, kept in schema "tarvix": the version table, the serial series and
// the numbers taken from them, the production records, and the functions a station calls. Stations
// log in as members of role tarvix_line, which may call those functions and nothing else; role
// tarvix_report may read the tables for the line report.
#pragma once

#include "line/database.h"

#include <string>

namespace tarvix::line {

// The schema version this station was built for.
inline constexpr int kSchemaVersion = 1;

// Creates the schema, or upgrades it to kSchemaVersion, in one transaction that other
// initialisations wait for; replaces the functions, grants the roles (made when missing) their
// rights, and adds the series named "default" when there is none. `said` tells what was done, or
// why nothing was. Needs an owner of the database with the right to create roles.
bool initialiseLine(Database& database, std::string& said);

} // namespace tarvix::line
