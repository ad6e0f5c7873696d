#include "app/station_report.h"

#include "app/station_window.h"
#include "text/pictures.h"

#include <optional>
#include <string>
#include <vector>

namespace tarvix::app {
namespace {

// A port holding a reader that no run has looked at: found after the run's last poll.
constexpr std::string_view kNotLookedAt = "no run has started since the reader was found";

// What the capacity check found on a LUN in this run; nothing when it did not run there.
void addCapacityCheck(const run::CapacityCheckResult& check, nlohmann::ordered_json& slot) {
  switch (check.verdict) {
  case station::CapacityVerdict::NotChecked: return;
  case station::CapacityVerdict::Genuine: slot["capacityCheck"] = "genuine"; return;
  case station::CapacityVerdict::Unfinished: slot["capacityCheck"] = "unfinished"; return;
  case station::CapacityVerdict::Forged:
    slot["capacityCheck"] = "forged";
    slot["realMiB"] = check.realMiB;
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
  for (const station::DriveRecord& drive : window.readers().driveRecords) {
    // A letter the walk placed on the USB tree but the mapping gave no slot.
    if (drive.letter == 0 || drive.usbPath.empty() || drive.slot != 0) continue;
    readers.push_back(station::driveName(drive.letter) + " at USB " + drive.usbPath.text());
  }
  return readers;
}

} // namespace

nlohmann::ordered_json stationReport(const StationWindow& window) {
  using namespace station;
  nlohmann::ordered_json ports = nlohmann::ordered_json::array();
  for (int n = 1; n <= kPortCount; ++n) {
    const run::PortOutcome outcome = window.outcome(n);
    nlohmann::ordered_json slots = nlohmann::ordered_json::array();
    for (int lun = 1; lun <= kLunsPerPort; ++lun) {
      const int s = slotNumber(n, lun);
      nlohmann::ordered_json slot = {
          {"slot", s},
          {"label", window.control(slotLabelId(s)).text},
          {"text", window.control(resultLineId(s)).text},
          {"colour", static_cast<int>(window.readers().slotColour[s - 1].load())},
          {"visible", window.control(resultLineId(s)).visible}};
      addCapacityCheck(outcome.capacityChecks[lun - 1], slot);
      slots.push_back(std::move(slot));
    }
    const bool holdsReader = !window.readers().ports[n - 1].empty();
    const bool started =
        outcome.stage == run::PortStage::Started || outcome.stage == run::PortStage::Finished;
    nlohmann::ordered_json entry = {{"port", n},
                                    {"picture", text::roleName(outcome.picture)},
                                    {"progress", window.control(progressBarId(n)).position},
                                    {"holdsReader", holdsReader},
                                    {"started", started},
                                    {"slots", std::move(slots)}};
    if (holdsReader && !started) {
      entry["refused"] =
          outcome.stage == run::PortStage::Refused ? outcome.refusal : std::string(kNotLookedAt);
    }
    if (outcome.stage == run::PortStage::Finished) entry["production"] = production(outcome.record);
    ports.push_back(std::move(entry));
  }
  nlohmann::ordered_json report = {{"serialText", window.serials().next()},
                                   {"ports", std::move(ports)}};
  if (auto dark = readersWithoutPortBox(window); !dark.empty()) report["withoutPortBox"] = dark;
  return report;
}

} // namespace tarvix::app
