#include "farm_usb/control_line.h"

#include <algorithm>
#include <sstream>

namespace tarvix::farm_usb {

std::string answerControlLine(platform::sim::Farm& farm, std::string_view line) {
  std::istringstream words{std::string(line)};
  std::string command;
  std::string readerId;
  std::string extra;
  words >> command >> readerId >> extra;
  if (command.empty()) return {};
  if ((command != "pull" && command != "plug") || readerId.empty() || !extra.empty())
    return "error: not a control line (pull ID or plug ID): " + std::string(line);
  const std::vector<std::string> ids = farm.readerIds();
  if (std::find(ids.begin(), ids.end(), readerId) == ids.end())
    return "error: no reader " + readerId;
  if (command == "pull")
    return farm.pull(readerId) ? "ok" : "error: " + readerId + " is pulled out already";
  return farm.plug(readerId) ? "ok" : "error: " + readerId + " is plugged in already";
}

} // namespace tarvix::farm_usb
