// The station's command line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tarvix::cli {

struct Options {
  bool help = false;
  bool version = false;
  bool trace = false; // trace lines to standard error too
  bool headless = false;
  bool scanOnly = false;
  bool simulate = false;           // the embedded default farm
  std::filesystem::path farmFile;  // a farm of one's own
  std::filesystem::path settings;  // taken as if loaded before start-up
  std::filesystem::path report;    // "-" is standard output
  std::filesystem::path log;       // a production log of one's own, beside the default one
  std::optional<std::string> line; // the production line's database, over the settings' own
  bool lineInit = false;           // create or upgrade the line's schema, then exit
  bool lineReport = false;         // print the line report, then exit
  std::string since;               // the report's first time
  bool onFarm() const { return simulate || !farmFile.empty(); }
};

// Nothing, with `error` set, on a usage error.
std::optional<Options> parse(int argc, char** argv, std::string& error);

extern const char* const kUsage;

} // namespace tarvix::cli
