#include "line/schema.h"

#include <string_view>

namespace tarvix::line {
namespace {

// Each step takes the schema from the version before it to its own; a database is brought up by
// running the steps above its version in order. A released step is never edited, only followed.
constexpr std::string_view kSteps[] = {
    // 1: series, numbers taken, records.
    R"sql(
CREATE TABLE tarvix.serial_series (
  name text PRIMARY KEY,
  next_value bigint NOT NULL DEFAULT 1 CHECK (next_value >= 0),
  last_value bigint NOT NULL DEFAULT 999999999999,
  digits integer NOT NULL DEFAULT 12 CHECK (digits BETWEEN 1 AND 18),
  -- lpad() would cut a longer number: a series never outgrows its digits.
  CHECK (last_value < 10::numeric ^ digits)
);
CREATE TABLE tarvix.serial_use (
  series text NOT NULL REFERENCES tarvix.serial_series (name),
  value bigint NOT NULL,
  serial text NOT NULL,
  take_id text NOT NULL UNIQUE,
  station text NOT NULL,
  session text NOT NULL,
  port integer NOT NULL,
  state text NOT NULL DEFAULT 'taken' CHECK (state IN ('taken', 'used', 'void')),
  taken_at timestamptz NOT NULL DEFAULT now(),
  settled_at timestamptz,
  PRIMARY KEY (series, value)
);
CREATE INDEX ON tarvix.serial_use (station, state);
CREATE TABLE tarvix.production_record (
  record_id text PRIMARY KEY,
  arrival bigint GENERATED ALWAYS AS IDENTITY UNIQUE,
  received_at timestamptz NOT NULL DEFAULT now(),
  station text NOT NULL,
  series text,
  finished_at timestamp NOT NULL,
  host text NOT NULL,
  port integer NOT NULL,
  usb_path text NOT NULL,
  drives text NOT NULL,
  model text NOT NULL,
  capacity_mib bigint NOT NULL,
  serial text NOT NULL,
  vid_pid text NOT NULL,
  steps text NOT NULL,
  result text NOT NULL,
  failure text NOT NULL,
  capacity_check text NOT NULL
);
CREATE INDEX ON tarvix.production_record (finished_at);
)sql",
};

// Replaced at every initialisation, so a fix reaches databases already at the current version.
// SECURITY DEFINER with a fixed search_path: a station's role runs them with the owner's rights
// on the tables, and cannot slip its own objects in by name.
constexpr std::string_view kFunctions = R"sql(
CREATE OR REPLACE FUNCTION tarvix.series_left(p_series text) RETURNS bigint
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
  SELECT greatest(last_value - next_value + 1, 0) FROM tarvix.serial_series WHERE name = p_series
$$;

-- One number from the series, recorded against the station and port in the same transaction.
-- A take repeated with the same id (its answer lost with the connection) gives the same number.
CREATE OR REPLACE FUNCTION tarvix.take_serial(p_series text, p_station text, p_session text,
                                              p_port integer, p_take_id text) RETURNS text
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  v bigint;
  d integer;
  s text;
BEGIN
  SELECT serial INTO s FROM tarvix.serial_use WHERE take_id = p_take_id;
  IF FOUND THEN
    RETURN s;
  END IF;
  UPDATE tarvix.serial_series SET next_value = next_value + 1
    WHERE name = p_series AND next_value <= last_value
    RETURNING next_value - 1, digits INTO v, d;
  IF NOT FOUND THEN
    IF EXISTS (SELECT FROM tarvix.serial_series WHERE name = p_series) THEN
      RAISE EXCEPTION 'serial series "%" has no numbers left', p_series;
    END IF;
    RAISE EXCEPTION 'the line has no serial series "%"', p_series;
  END IF;
  s := lpad(v::text, d, '0');
  INSERT INTO tarvix.serial_use (series, value, serial, take_id, station, session, port)
    VALUES (p_series, v, s, p_take_id, p_station, p_session, p_port);
  RETURN s;
END
$$;

-- A finished port's record, once whatever the retries: the number on its reader becomes used,
-- the others it took void. False when the record was there already.
CREATE OR REPLACE FUNCTION tarvix.add_record(
    p_record_id text, p_station text, p_series text, p_finished_at timestamp, p_host text,
    p_port integer, p_usb_path text, p_drives text, p_model text, p_capacity_mib bigint,
    p_serial text, p_vid_pid text, p_steps text, p_result text, p_failure text,
    p_capacity_check text, p_used_take text, p_void_takes text[]) RETURNS boolean
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
BEGIN
  INSERT INTO tarvix.production_record (record_id, station, series, finished_at, host, port,
      usb_path, drives, model, capacity_mib, serial, vid_pid, steps, result, failure,
      capacity_check)
    VALUES (p_record_id, p_station, p_series, p_finished_at, p_host, p_port, p_usb_path,
      p_drives, p_model, p_capacity_mib, p_serial, p_vid_pid, p_steps, p_result, p_failure,
      p_capacity_check)
    ON CONFLICT (record_id) DO NOTHING;
  IF NOT FOUND THEN
    RETURN false;
  END IF;
  -- What a reader holds is used, even when a restart had already written it off.
  UPDATE tarvix.serial_use SET state = 'used', settled_at = now()
    WHERE take_id = p_used_take AND state <> 'used';
  UPDATE tarvix.serial_use SET state = 'void', settled_at = now()
    WHERE take_id = ANY (p_void_takes) AND state = 'taken';
  RETURN true;
END
$$;

-- Numbers a station took in an earlier session and never settled: it ended (or was ended) before
-- their ports finished, so they are written off; none is ever handed out again.
CREATE OR REPLACE FUNCTION tarvix.void_leftovers(p_station text, p_session text) RETURNS integer
LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
  WITH voided AS (
    UPDATE tarvix.serial_use SET state = 'void', settled_at = now()
      WHERE station = p_station AND session <> p_session AND state = 'taken'
      RETURNING 1)
  SELECT count(*)::integer FROM voided
$$;
)sql";

constexpr std::string_view kGrants = R"sql(
DO $$
BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'tarvix_line') THEN
    CREATE ROLE tarvix_line NOLOGIN;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'tarvix_report') THEN
    CREATE ROLE tarvix_report NOLOGIN;
  END IF;
END
$$;
REVOKE ALL ON SCHEMA tarvix FROM PUBLIC;
REVOKE ALL ON ALL TABLES IN SCHEMA tarvix FROM PUBLIC, tarvix_line;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA tarvix FROM PUBLIC;
GRANT USAGE ON SCHEMA tarvix TO tarvix_line, tarvix_report;
GRANT EXECUTE ON FUNCTION tarvix.series_left(text), tarvix.take_serial(text, text, text, integer,
    text), tarvix.add_record(text, text, text, timestamp, text, integer, text, text, text, bigint,
    text, text, text, text, text, text, text, text[]), tarvix.void_leftovers(text, text)
  TO tarvix_line;
GRANT SELECT ON ALL TABLES IN SCHEMA tarvix TO tarvix_report;
INSERT INTO tarvix.serial_series (name) SELECT 'default'
  WHERE NOT EXISTS (SELECT FROM tarvix.serial_series);
)sql";

bool upgrade(Database& database, std::string& said) {
  const Reply before = database.run("SELECT coalesce(max(version), 0) FROM tarvix.schema_version");
  if (before.unreachable) {
    said = "the line database cannot be reached: " + before.error;
    return false;
  }
  // No version table yet: a new line.
  const int from =
      before.ok && !before.rows.empty() && before.rows[0][0] ? std::stoi(*before.rows[0][0]) : 0;
  if (from > kSchemaVersion) {
    said = "the line's schema is version " + std::to_string(from) + ", newer than this station's " +
           std::to_string(kSchemaVersion) + "; nothing was changed";
    return false;
  }
  // One transaction: a failed step leaves the database as it was.
  std::string script = "BEGIN;\n"
                       "CREATE SCHEMA IF NOT EXISTS tarvix;\n"
                       "CREATE TABLE IF NOT EXISTS tarvix.schema_version (\n"
                       "  version integer PRIMARY KEY,\n"
                       "  applied_at timestamptz NOT NULL DEFAULT now());\n";
  for (int version = from + 1; version <= kSchemaVersion; ++version) {
    script += std::string(kSteps[version - 1]);
    script +=
        "INSERT INTO tarvix.schema_version (version) VALUES (" + std::to_string(version) + ");\n";
  }
  script += std::string(kFunctions) + std::string(kGrants) + "COMMIT;\n";
  const Reply done = database.run(script);
  if (!done.ok) {
    database.run("ROLLBACK");
    said = "the line's schema could not be made: " + done.error;
    return false;
  }
  said = from == kSchemaVersion
             ? "the line's schema is at version " + std::to_string(from) + "; functions renewed"
             : "the line's schema is at version " + std::to_string(kSchemaVersion) +
                   (from == 0 ? " (created)"
                              : " (upgraded from version " + std::to_string(from) + ")");
  return true;
}

} // namespace

bool initialiseLine(Database& database, std::string& said) {
  // A second initialisation waits for the first, then finds its work done.
  const Reply locked = database.run("SELECT pg_advisory_lock(hashtext('tarvix schema'))");
  if (!locked.ok) {
    said = "the line database cannot be reached: " + locked.error;
    return false;
  }
  const bool done = upgrade(database, said);
  database.run("SELECT pg_advisory_unlock(hashtext('tarvix schema'))");
  return done;
}

} // namespace tarvix::line
