// The station's port boxes as JSON: what each shows, and how its port fared in the run as its
// outcome record keeps it. For automation and end-to-end tests. Window thread only.
#pragma once

#include <nlohmann/json.hpp>

namespace tarvix::app {

class StationWindow;

// {"serialText": "...", "ports": [{"port", "picture", "progress", "started", "slots": [{"slot",
// "label", "text", "colour", "visible"}], "production": {the port's production record, once
// finished in this run}}], "withoutPortBox": [readers attached but given no port box]} for all
// 21 ports and all four slots of each.
nlohmann::ordered_json stationReport(const StationWindow& window);

} // namespace tarvix::app
