#include "app/station_report.h"

#include "app/station_window.h"
#include "text/pictures.h"

#include <optional>
#include <string>
#include <vector>

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

nlohmann::ordered_json production(const log::ProductionRecord& r) {
  nlohmann::ordered_json steps = nlohmann::ordered_json::array();
  for (const log::StepRun& step : r.steps)
    steps.push_back({{"step", step.name}, {"ms", step.ms}});
  return {{"time", log::timeText(r.time)},
          {"host", r.host},
          {"usbPath", r.usbPath},
          {"drives", r.drives},
          {"model", r.model},
          {"capacityMiB", r.capacityMiB},
          {"serial", r.serial},
          {"vidPid", r.vidPid},
          {"steps", std::move(steps)},
          {"result", log::resultName(r.result)},
          {"failure", r.failure},
          {"capacityCheck", r.capacityCheck}};
}

// Readers attached but given no port box (beyond the 21st port, a hub chained too deep, behind a
// further hub), as "E: at USB 1-2.7.1.3": an operator's clue to a reader that sits dark.
std::vector<std::string> readersWithoutPortBox(const StationWindow& window) {
  std::vector<std::string> readers;
  for (const station::DriveRecord& drive : window.driveRecords) {
    // A letter the walk placed on the USB tree but the mapping gave no slot.
    if (drive.letter == 0 || drive.usbPath.empty() || drive.slot != 0) continue;
    readers.push_back(station::driveName(drive.letter) + " at USB " + usbPathText(drive.usbPath));
  }
  return readers;
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
    if (auto record = window.productionBook.port(n)) entry["production"] = production(*record);
    ports.push_back(std::move(entry));
  }
  nlohmann::ordered_json report = {{"serialText", window.serialText}, {"ports", std::move(ports)}};
  if (auto dark = readersWithoutPortBox(window); !dark.empty()) report["withoutPortBox"] = dark;
  return report;
}

} // namespace tarvix::app
