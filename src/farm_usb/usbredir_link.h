// One reader served over one usbredir connection, as the side that has the device ("usb host" in
// usbredir's words): QEMU's usb-redir device connects, the link announces the reader, then
// carries control and bulk packets between the connection and the reader's MassStorageDevice.
// Not thread-safe: one thread serves a link. The caller owns and closes the socket; the farm and
// the reader's plan outlive the link.
#pragma once

#include "farm_usb/mass_storage.h"

#include <string>

struct usbredirparser;

namespace tarvix::farm_usb {

class UsbredirLink {
public:
  // `socket` is connected and non-blocking; `generation` is the reader's plug-in it serves.
  UsbredirLink(int socket, platform::sim::Farm& farm, const platform::sim::ReaderPlan& reader,
               std::uint64_t generation, Speed speed);
  ~UsbredirLink();
  UsbredirLink(const UsbredirLink&) = delete;
  UsbredirLink& operator=(const UsbredirLink&) = delete;

  // Reads what has arrived, answers it and sends what is due. False when the connection is over:
  // the peer closed it, it failed, or the reader left the bus during a command.
  bool serve();

  // The parser's callbacks reach the link through these.
  struct Callbacks;

private:
  void sendDueIns();

  int socket_;
  MassStorageDevice device_;
  const platform::sim::ReaderPlan& reader_;
  Speed speed_;
  usbredirparser* parser_;
  bool failed_ = false;
};

} // namespace tarvix::farm_usb
