#include "line/spool.h"

#include "platform/files/shared_file.h"

#include <nlohmann/json.hpp>

namespace tarvix::line {
namespace {

using Json = nlohmann::ordered_json;
namespace files = platform::files;

} // namespace

std::string spoolLine(const LineRecord& r) {
  const Json j = {{"recordId", r.recordId}, {"station", r.station},
                  {"series", r.series},     {"finishedAt", r.finishedAt},
                  {"host", r.host},         {"port", r.port},
                  {"usbPath", r.usbPath},   {"drives", r.drives},
                  {"model", r.model},       {"capacityMiB", r.capacityMiB},
                  {"serial", r.serial},     {"vidPid", r.vidPid},
                  {"steps", r.steps},       {"result", r.result},
                  {"failure", r.failure},   {"capacityCheck", r.capacityCheck},
                  {"usedTake", r.usedTake}, {"voidTakes", r.voidTakes}};
  // Invalid UTF-8 (a card text typed in another code page) is replaced, never refused.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<LineRecord> fromSpoolLine(const std::string& line) {
  const Json j = Json::parse(line, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  try {
    LineRecord r;
    r.recordId = j.at("recordId").get<std::string>();
    r.station = j.at("station").get<std::string>();
    r.series = j.at("series").get<std::string>();
    r.finishedAt = j.at("finishedAt").get<std::string>();
    r.host = j.at("host").get<std::string>();
    r.port = j.at("port").get<int>();
    r.usbPath = j.at("usbPath").get<std::string>();
    r.drives = j.at("drives").get<std::string>();
    r.model = j.at("model").get<std::string>();
    r.capacityMiB = j.at("capacityMiB").get<std::uint64_t>();
    r.serial = j.at("serial").get<std::string>();
    r.vidPid = j.at("vidPid").get<std::string>();
    r.steps = j.at("steps").get<std::string>();
    r.result = j.at("result").get<std::string>();
    r.failure = j.at("failure").get<std::string>();
    r.capacityCheck = j.at("capacityCheck").get<std::string>();
    r.usedTake = j.at("usedTake").get<std::string>();
    r.voidTakes = j.at("voidTakes").get<std::vector<std::string>>();
    return r;
  } catch (const Json::exception&) {
    return std::nullopt; // a field missing or of another type
  }
}

Spool::Spool(std::filesystem::path file) : file_(std::move(file)) {
  const std::string content = files::readShared(file_, 0);
  if (content.empty() || content.back() == '\n') return;
  const std::size_t end = content.rfind('\n');
  files::shrinkShared(file_, content.size(), end == std::string::npos ? 0 : end + 1);
}

bool Spool::add(const LineRecord& record) {
  return files::appendShared(file_, {}, spoolLine(record), true);
}

Spool::Pending Spool::pending() const {
  Pending pending;
  const std::string content = files::readShared(file_, 0);
  pending.bytes = content.size();
  for (std::size_t at = 0; at < content.size();) {
    const std::size_t end = content.find('\n', at);
    // A line still being written is left for the next reading.
    if (end == std::string::npos) {
      pending.bytes = at;
      break;
    }
    const std::string line = content.substr(at, end - at);
    if (auto record = fromSpoolLine(line)) {
      pending.records.push_back(std::move(*record));
    } else {
      pending.unreadable.push_back(line);
    }
    at = end + 1;
  }
  return pending;
}

bool Spool::sent(std::uint64_t bytes) { return files::shrinkShared(file_, bytes, 0); }

} // namespace tarvix::line
