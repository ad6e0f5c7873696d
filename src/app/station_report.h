// The station's port boxes as JSON, exactly as they are shown: for automation and end-to-end tests.
// Window thread only.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tarvix::app {

class StationWindow;

// {"serialText": "...", "ports": [{"port", "picture", "progress", "started", "slots": [{"slot",
// "label", "text", "colour", "visible"}], "production": {the port's production record, once
// finished in this run}}], "withoutPortBox": [readers attached but given no port box]} for all
// 21 ports and all four slots of each.
nlohmann::ordered_json stationReport(const StationWindow& window);

// Readers attached but given no port box (beyond the 21st port, a hub chained too deep, behind a
// further hub), as "E: at USB 1-2.7.1.3": an operator's clue to a reader that sits dark.
std::vector<std::string> readersWithoutPortBox(const StationWindow& window);

} // namespace tarvix::app
