// The farm's readers served as USB devices over one transport, each reader by a thread of its
// own, so that one reader's transfers, bandwidth waits and hangs hold up no other. A pulled reader
// leaves the bus: its connection closes and, until it is plugged in again, usbredir takes no
// connection for it and USB/IP neither lists nor imports it.
// Made and destroyed on one thread; the farm must outlive the server, whose destructor stops every
// thread, closes every socket and removes the socket files. The server takes the farm's drive
// event listener for itself.
#pragma once

#include "platform/sim/farm.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace tarvix::farm_usb {

class DeviceServer {
public:
  // usbredir: a listening unix socket `socketDir`/<reader id>.sock per plugged reader, for QEMU's
  // usb-redir device. Null with a message when a socket cannot be made.
  static std::unique_ptr<DeviceServer> serveUsbredir(platform::sim::Farm& farm,
                                                     const std::filesystem::path& socketDir,
                                                     std::string& error);
  // USB/IP: one listening TCP socket; a reader's bus id is its id. Port 0 takes any free port.
  static std::unique_ptr<DeviceServer> serveUsbip(platform::sim::Farm& farm,
                                                  const std::string& address, std::uint16_t port,
                                                  std::string& error);
  ~DeviceServer();
  DeviceServer(const DeviceServer&) = delete;
  DeviceServer& operator=(const DeviceServer&) = delete;

  std::size_t readerCount() const;
  // The TCP port USB/IP listens on; 0 for usbredir.
  std::uint16_t usbipPort() const;

  struct Impl;

private:
  explicit DeviceServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

} // namespace tarvix::farm_usb
