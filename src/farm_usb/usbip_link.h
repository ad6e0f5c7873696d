// One reader served over one imported USB/IP connection: URBs from the client's virtual host
// controller (vhci-hcd) carried to and from the reader's MassStorageDevice.
// Not thread-safe: one thread serves a link. The caller owns and closes the socket; the farm and
// the reader's plan outlive the link.
#pragma once

#include "farm_usb/mass_storage.h"

namespace tarvix::farm_usb {

class UsbipLink {
public:
  // `socket` is connected and blocking, its import answered; `generation` is the reader's plug-in
  // it serves.
  UsbipLink(int socket, platform::sim::Farm& farm, const platform::sim::ReaderPlan& reader,
            std::uint64_t generation);

  // Reads one message, answers it and sends what is due. False when the connection is over: the
  // peer closed it, sent what is no URB, or the reader left the bus during a command.
  bool serve();

private:
  bool send(const std::vector<std::uint8_t>& message);
  bool sendDueIns();

  int socket_;
  MassStorageDevice device_;
};

} // namespace tarvix::farm_usb
