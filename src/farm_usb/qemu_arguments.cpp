#include "farm_usb/qemu_arguments.h"

#include <algorithm>
#include <cctype>

namespace tarvix::farm_usb {
namespace {

namespace sim = platform::sim;

constexpr int kQemuHubPorts = 8; // the most ports QEMU's usb-hub has
constexpr int kQemuRootPorts = 15;

std::string controllerId(int controller) {
  return controller == 0 ? "xhci" : "xhci" + std::to_string(controller + 1);
}

// QEMU's id rule: a letter, then letters, digits, '-', '.' and '_'.
bool qemuId(const std::string& text) {
  return !text.empty() && std::isalpha(static_cast<unsigned char>(text[0])) &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
         });
}

// A value inside QEMU's comma-separated options: its own commas doubled.
std::string optionValue(const std::string& text) {
  std::string value;
  for (const char c : text) {
    value += c;
    if (c == ',') value += ',';
  }
  return value;
}

class Tree {
public:
  explicit Tree(const sim::FarmPlan& farm) : farm_(farm) {}

  // QEMU's port path of `port` of the hub (or root hub) at `at`: "2", "2.3", "2.4.1", ...
  std::string path(const sim::Position& at) const {
    if (at.hub < 0) return std::to_string(at.port);
    const sim::HubPlan& hub = farm_.hubs[static_cast<std::size_t>(at.hub)];
    const std::string hubPath = path(hub.at);
    if (hub.chips == 2 && at.port > sim::kOuterChipOwnPorts)
      return hubPath + "." + std::to_string(sim::kOuterChipPorts) + "." +
             std::to_string(at.port - sim::kOuterChipOwnPorts);
    return hubPath + "." + std::to_string(at.port);
  }

  std::string bus(const sim::Position& at) const { return controllerId(at.controller) + ".0"; }

private:
  const sim::FarmPlan& farm_;
};

} // namespace

std::optional<std::vector<std::string>> qemuArguments(const sim::FarmPlan& farm,
                                                      const std::filesystem::path& socketDir,
                                                      std::string& error) {
  std::vector<std::string> arguments;
  const auto device = [&](const std::string& text) {
    arguments.push_back("-device");
    arguments.push_back(text);
  };
  for (std::size_t c = 0; c < farm.controllers.size(); ++c) {
    const int ports = farm.controllers[c].rootPorts;
    if (ports > kQemuRootPorts) {
      error = "host controller " + std::to_string(c + 1) + ": QEMU's xhci has at most " +
              std::to_string(kQemuRootPorts) + " ports";
      return std::nullopt;
    }
    device("qemu-xhci,id=" + controllerId(static_cast<int>(c)) + ",p2=" + std::to_string(ports) +
           ",p3=" + std::to_string(ports));
  }
  const Tree tree(farm);
  // Hubs in file order: a hub comes after the hub it is plugged into.
  for (const sim::HubPlan& hub : farm.hubs) {
    const std::string at = "usb-hub,bus=" + tree.bus(hub.at) + ",port=" + tree.path(hub.at);
    if (hub.chips == 2) {
      device(at + ",ports=" + std::to_string(sim::kOuterChipPorts));
      device("usb-hub,bus=" + tree.bus(hub.at) + ",port=" + tree.path(hub.at) + "." +
             std::to_string(sim::kOuterChipPorts) +
             ",ports=" + std::to_string(sim::kChainedHubPorts - sim::kOuterChipOwnPorts));
      continue;
    }
    if (hub.ports > kQemuHubPorts) {
      error = "a hub of " + std::to_string(hub.ports) + " ports: QEMU's hub has at most " +
              std::to_string(kQemuHubPorts);
      return std::nullopt;
    }
    device(at + ",ports=" + std::to_string(hub.ports));
  }
  for (const sim::ReaderPlan& reader : farm.readers) {
    if (!qemuId(reader.id)) {
      error = "reader " + reader.id +
              ": QEMU takes ids of a letter, then letters, digits, '-', "
              "'.' and '_' only";
      return std::nullopt;
    }
    arguments.push_back("-chardev");
    arguments.push_back("socket,id=farm-" + reader.id + ",path=" +
                        optionValue((socketDir / (reader.id + ".sock")).string()) + ",reconnect=1");
    device("usb-redir,chardev=farm-" + reader.id + ",id=" + reader.id +
           ",bus=" + tree.bus(reader.at) + ",port=" + tree.path(reader.at));
  }
  return arguments;
}

} // namespace tarvix::farm_usb
