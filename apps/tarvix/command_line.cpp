#include "command_line.h"

#include <string_view>

namespace tarvix::cli {

const char* const kUsage =
    "usage: tarvix [--simulate | --farm FILE] [--settings FILE] [--trace] [--log FILE]\n"
    "              [--line CONNINFO]\n"
    "       tarvix --headless [--scan-only] [--simulate | --farm FILE] [--settings FILE]\n"
    "              [--report FILE] [--trace] [--log FILE] [--line CONNINFO]\n"
    "       tarvix --line-init [--line CONNINFO] [--settings FILE]\n"
    "       tarvix --line-report [--since TIME] [--line CONNINFO] [--settings FILE]\n"
    "       tarvix --version\n"
    "\n"
    "  --simulate      run on the built-in simulated reader farm (seven readers on one hub)\n"
    "  --farm FILE     run on the simulated reader farm described in FILE\n"
    "  --settings FILE start with the settings in FILE, as if loaded before start-up\n"
    "  --headless      run without a window: find the readers, press Auto Start once, wait for\n"
    "                  the run to end, report the port boxes; exit 0 when every reader in a\n"
    "                  port box passed, 1 when one failed, was refused or none could start\n"
    "  --scan-only     with --headless: only find and probe the readers, report, exit 0\n"
    "  --report FILE   where the JSON report goes ('-' for standard output)\n"
    "  --trace         write the diagnostic trace lines to standard error as well\n"
    "  --log FILE      append the production log records to FILE as well\n"
    "  --line CONNINFO work on the production line in this PostgreSQL database (a libpq\n"
    "                  connection string or service=NAME; szConnection under [Line] otherwise):\n"
    "                  serial numbers from its series, every finished port into its records\n"
    "  --line-init     create or upgrade the line database's schema and roles, then exit\n"
    "  --line-report   print per station and hour: passed, failed, yield, serial numbers\n"
    "  --since TIME    with --line-report: only ports finished from TIME on\n"
    "\n"
    "Trace lines go to $XDG_STATE_HOME/tarvix/trace.log, the production log to\n"
    "$XDG_STATE_HOME/tarvix/production.csv (~/.local/state/tarvix without XDG_STATE_HOME).\n"
    "The window needs a display; without one, run it under xvfb-run or use --headless.\n";

std::optional<Options> parse(int argc, char** argv, std::string& error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](auto& into) {
      if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return false;
      }
      into = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--log") {
      if (!value(options.log)) return std::nullopt;
    } else if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--scan-only") {
      options.scanOnly = true;
    } else if (arg == "--simulate") {
      options.simulate = true;
    } else if (arg == "--farm") {
      if (!value(options.farmFile)) return std::nullopt;
    } else if (arg == "--settings") {
      if (!value(options.settings)) return std::nullopt;
    } else if (arg == "--report") {
      if (!value(options.report)) return std::nullopt;
    } else if (arg == "--line") {
      if (!value(options.line.emplace())) return std::nullopt;
    } else if (arg == "--line-init") {
      options.lineInit = true;
    } else if (arg == "--line-report") {
      options.lineReport = true;
    } else if (arg == "--since") {
      if (!value(options.since)) return std::nullopt;
    } else {
      error = "unknown option '" + std::string(arg) + "'";
      return std::nullopt;
    }
  }
  if (options.simulate && !options.farmFile.empty()) {
    error = "--simulate and --farm exclude each other";
    return std::nullopt;
  }
  if (options.scanOnly && !options.headless) {
    error = "--scan-only needs --headless";
    return std::nullopt;
  }
  if (!options.report.empty() && !options.headless) {
    error = "--report needs --headless";
    return std::nullopt;
  }
  if (!options.since.empty() && !options.lineReport) {
    error = "--since needs --line-report";
    return std::nullopt;
  }
  if ((options.lineInit || options.lineReport) &&
      (options.lineInit == options.lineReport || options.headless || options.onFarm())) {
    error = "--line-init and --line-report run alone, without a station";
    return std::nullopt;
  }
  return options;
}

} // namespace tarvix::cli
