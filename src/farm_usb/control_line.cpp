#include "farm_usb/control_line.h"

#include "platform/sim/farm_file.h"

#include <algorithm>
#include <sstream>

namespace tarvix::farm_usb {

std::string answerControlLine(platform::sim::Farm& farm, std::string_view line) {
  std::istringstream words{std::string(line)};
  std::string command;
  std::string readerId;
  std::string extra;
  words >> command >> readerId;
  std::getline(words >> std::ws, extra);
  if (command.empty()) return {};
  const bool faulting = command == "fault";
  if ((command != "pull" && command != "plug" && !faulting) || readerId.empty() ||
      extra.empty() != !faulting)
    return "error: not a control line (pull ID, plug ID or fault ID FAULT): " + std::string(line);
  const std::vector<std::string> ids = farm.readerIds();
  if (std::find(ids.begin(), ids.end(), readerId) == ids.end())
    return "error: no reader " + readerId;
  if (faulting) {
    std::string error;
    const auto fault = platform::sim::parseFault(extra, error);
    if (!fault) return "error: the fault " + error;
    farm.addFault(readerId, *fault);
    return "ok";
  }
  if (command == "pull")
    return farm.pull(readerId) ? "ok" : "error: " + readerId + " is pulled out already";
  return farm.plug(readerId) ? "ok" : "error: " + readerId + " is plugged in already";
}

} // namespace tarvix::farm_usb
