#include "app/station_report.h"

#include "app/station_window.h"
#include "text/pictures.h"

#include <optional>
#include <string>

namespace tarvix::app {
namespace {

// Why a port that holds a reader was not started: what its box shows, in words a script can log.
std::string refusal(const StationWindow& window, int n, std::optional<text::PictureRole> role) {
  for (int lun = 1; lun <= station::kLunsPerPort; ++lun) {
    const std::string& text =
        window.control(station::resultLineId(station::slotNumber(n, lun))).text;
    // The box breaks its lines where it has to; a reason is one line.
    std::string shown;
    for (char c : text) {
      if (c == '\n')
        shown += ' ';
      else if (c != '\r')
        shown += c;
    }
    if (!shown.empty()) return shown;
  }
  switch (role.value_or(text::PictureRole::Blank)) {
  case text::PictureRole::Scan: return "not every logical unit of the reader was found";
  case text::PictureRole::Fail: return "refused when its port was started";
  default: return "the card probe did not find the reader ready";
  }
}

// What the capacity check found on a slot in this run; nothing when it did not run there.
void addCapacityCheck(const station::CapacityCheckRecord& check, nlohmann::ordered_json& slot) {
  switch (check.verdict.load()) {
  case station::CapacityVerdict::NotChecked: return;
  case station::CapacityVerdict::Genuine: slot["capacityCheck"] = "genuine"; return;
  case station::CapacityVerdict::Unfinished: slot["capacityCheck"] = "unfinished"; return;
  case station::CapacityVerdict::Forged:
    slot["capacityCheck"] = "forged";
    slot["realMiB"] = check.realMiB.load();
    return;
  }
}

} // namespace

nlohmann::ordered_json stationReport(const StationWindow& window) {
  using namespace station;
  nlohmann::ordered_json ports = nlohmann::ordered_json::array();
  for (int n = 1; n <= kPortCount; ++n) {
    const auto role = text::pictureRole(window.control(statusPictureId(n)).picture);
    nlohmann::ordered_json slots = nlohmann::ordered_json::array();
    for (int lun = 1; lun <= kLunsPerPort; ++lun) {
      const int s = slotNumber(n, lun);
      nlohmann::ordered_json slot = {{"slot", s},
                                     {"label", window.control(slotLabelId(s)).text},
                                     {"text", window.control(resultLineId(s)).text},
                                     {"colour", static_cast<int>(window.slotColour[s - 1].load())},
                                     {"visible", window.control(resultLineId(s)).visible}};
      addCapacityCheck(window.capacityChecks[s - 1], slot);
      slots.push_back(std::move(slot));
    }
    const bool holdsReader = !window.ports[n - 1].empty();
    nlohmann::ordered_json entry = {
        {"port", n},
        {"picture", text::roleName(role.value_or(text::PictureRole::Blank))},
        {"progress", window.control(progressBarId(n)).position},
        {"holdsReader", holdsReader},
        {"started", window.portStarted(n)},
        {"slots", std::move(slots)}};
    if (holdsReader && !window.portStarted(n)) entry["refused"] = refusal(window, n, role);
    ports.push_back(std::move(entry));
  }
  return {{"serialText", window.serialText}, {"ports", std::move(ports)}};
}

} // namespace tarvix::app
