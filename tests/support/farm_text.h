// Farm files as text, for the tests that build a simulated farm: readers, hubs and the host
// controller that holds them.
#pragma once

#include <string>

namespace tarvix::testing {

// A reader entry of a farm file on `port`, with its card's fields (size, faults, ...).
inline std::string farmReader(int port, const std::string& id, const std::string& model,
                              const std::string& card) {
  return R"({"port": )" + std::to_string(port) + R"(, "reader": {"id": ")" + id +
         R"(", "model": ")" + model + R"(", )" + card + "}}";
}
// The same with a card of `mib` MiB; `extra` adds fields such as faults.
inline std::string farmReader(int port, const std::string& id, const std::string& model, int mib,
                              const std::string& extra = "") {
  return farmReader(port, id, model, R"("cardMiB": )" + std::to_string(mib) + extra);
}
// A seven-port hub entry on root port `port`, of two chips unless `oneChip`.
inline std::string farmHub(int port, const std::string& attached, bool oneChip = false) {
  return R"({"port": )" + std::to_string(port) + R"(, "hub": {"ports": 7)" +
         (oneChip ? "" : R"(, "chips": 2)") + R"(, "attached": [)" + attached + "]}}";
}
// A farm of one host controller with `rootPorts` root ports holding `attached`.
inline std::string farmText(const std::string& attached, int rootPorts = 2,
                            const std::string& timeScale = "0.0001") {
  return R"({"imageDir": "img", "timeScale": )" + timeScale +
         R"(, "hostControllers": [{"rootHubPorts": )" + std::to_string(rootPorts) +
         R"(, "attached": [)" + attached + "]}]}";
}

// One entry of a reader's faults: `kind` at the `command`'s call after `after` calls, `times` times
// (0: every call from then on).
inline std::string fault(const std::string& command, int after, const std::string& kind,
                         int times = 0) {
  return R"({"command": ")" + command + R"(", "after": )" + std::to_string(after) +
         R"(, "fault": ")" + kind + "\"" +
         (times > 0 ? R"(, "times": )" + std::to_string(times) : "") + "}";
}

} // namespace tarvix::testing
