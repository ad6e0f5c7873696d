#include "log/production_record.h"

#include <cstdio>

namespace tarvix::log {
namespace {

std::string field(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

} // namespace

std::string_view resultName(PortResult result) {
  switch (result) {
  case PortResult::Pass: return "pass";
  case PortResult::Fail: return "fail";
  case PortResult::DefaultPass: return "default pass";
  case PortResult::ResetFail: return "reset fail";
  case PortResult::Pulled: return "pulled";
  }
  return "fail";
}

std::string oneLine(std::string_view text) {
  std::string line;
  for (char c : text) {
    const bool lineBreak = c == '\r' || c == '\n';
    if (!lineBreak) {
      line += c;
    } else if (!line.empty() && line.back() != ' ') {
      line += ' ';
    }
  }
  if (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string timeText(const platform::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string stepsText(const std::vector<StepRun>& steps) {
  std::string text;
  for (const StepRun& step : steps) {
    if (!text.empty()) text += ';';
    text += step.name + ' ' + std::to_string(step.ms) + " ms";
  }
  return text;
}

std::string csvHeader() {
  return "time,host,port,usb path,drives,model,capacity MiB,serial,vid:pid,steps,result,"
         "failure,capacity check\r\n";
}

std::string csvRow(const ProductionRecord& r) {
  const std::string fields[] = {timeText(r.time),
                                r.host,
                                std::to_string(r.port),
                                r.usbPath,
                                r.drives,
                                r.model,
                                std::to_string(r.capacityMiB),
                                r.serial,
                                r.vidPid,
                                stepsText(r.steps),
                                std::string(resultName(r.result)),
                                r.failure,
                                r.capacityCheck};
  std::string row;
  for (const std::string& value : fields)
    row += field(value) + ',';
  row.back() = '\r';
  return row + '\n';
}

} // namespace tarvix::log
