#include "line_setup.h"

#include "app/settings_binding.h"
#include "line/line_report.h"
#include "line/schema.h"

#include <cstdio>

namespace tarvix::cli {
namespace {

// A station's name as part of a file name: letters and digits kept, anything else "_".
std::string fileSafe(const std::string& name) {
  std::string safe;
  for (const char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.';
    safe += plain ? c : '_';
  }
  return safe;
}

} // namespace

bool chooseLine(const Options& options, const std::filesystem::path& settingsFile,
                const std::string& hostName, const std::filesystem::path& spoolFolder,
                std::optional<line::LineConfig>& line, std::string& error) {
  app::LineSetting setting = app::lineSetting(settingsFile, hostName);
  if (options.line) setting.connection = options.line;
  if (!setting.connection) return true;
  error = line::connectionRefusal(*setting.connection);
  if (!error.empty()) return false;
  line::LineConfig config;
  config.connection = *setting.connection;
  config.series = setting.series;
  config.station = setting.station;
  if (config.series.empty() || config.station.empty()) {
    error = settingsFile.string() + ": [Line] names an empty series or station";
    return false;
  }
  config.spool = spoolFolder / ("line-" + fileSafe(config.station) + ".spool");
  line = std::move(config);
  return true;
}

int runLineTool(const Options& options, const std::filesystem::path& settingsFile) {
  std::optional<line::LineConfig> config;
  std::string error;
  if (!chooseLine(options, settingsFile, "line tool", ".", config, error) || !config) {
    std::fprintf(stderr, "tarvix: %s\n",
                 error.empty() ? "no line is named: give --line CONNINFO" : error.c_str());
    return 2;
  }
  line::Database database(config->connection);
  std::string said;
  const bool done = options.lineInit ? line::initialiseLine(database, said)
                                     : line::lineReport(database, options.since, said);
  std::fputs((done ? said : "tarvix: " + said).c_str(), done ? stdout : stderr);
  if (!said.empty() && said.back() != '\n') std::fputc('\n', done ? stdout : stderr);
  return done ? 0 : 1;
}

} // namespace tarvix::cli
