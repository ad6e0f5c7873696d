#include "app/station_report.h"

#include "app/station_window.h"
#include "text/pictures.h"

namespace tarvix::app {

nlohmann::ordered_json stationReport(const StationWindow& window) {
  using namespace station;
  nlohmann::ordered_json ports = nlohmann::ordered_json::array();
  for (int n = 1; n <= kPortCount; ++n) {
    const auto role = text::pictureRole(window.control(statusPictureId(n)).picture);
    nlohmann::ordered_json slots = nlohmann::ordered_json::array();
    for (int lun = 1; lun <= kLunsPerPort; ++lun) {
      const int s = slotNumber(n, lun);
      slots.push_back({{"slot", s},
                       {"label", window.control(slotLabelId(s)).text},
                       {"text", window.control(resultLineId(s)).text},
                       {"colour", static_cast<int>(window.slotColour[s - 1].load())},
                       {"visible", window.control(resultLineId(s)).visible}});
    }
    ports.push_back({{"port", n},
                     {"picture", text::roleName(role.value_or(text::PictureRole::Blank))},
                     {"progress", window.control(progressBarId(n)).position},
                     {"started", window.portStarted(n)},
                     {"slots", std::move(slots)}});
  }
  return {{"serialText", window.serialText}, {"ports", std::move(ports)}};
}

} // namespace tarvix::app
