// The QEMU command-line arguments that build a farm's USB tree: a qemu-xhci per host controller,
// its hubs as usb-hub devices (a two-chip hub as two chained four-port hubs, as the farm describes
// it), and each reader as a usb-redir device on its port whose chardev reconnects to the reader's
// socket. Pure.
#pragma once

#include "platform/sim/farm_plan.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvix::farm_usb {

// One argument per element, in order; nothing with a message when QEMU cannot build the tree
// (a hub of more ports than QEMU's hub has, a reader id QEMU cannot take as an id).
std::optional<std::vector<std::string>> qemuArguments(const platform::sim::FarmPlan& farm,
                                                      const std::filesystem::path& socketDir,
                                                      std::string& error);

} // namespace tarvix::farm_usb
