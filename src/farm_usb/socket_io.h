// The sockets the device server listens and talks on: whole-buffer reads and writes retried over
// short transfers and signals, and listeners on a unix socket path or a TCP address. Descriptors
// are not inherited by child processes. Reentrant.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace tarvix::farm_usb {

// False when the peer closed the connection or it failed.
bool readAll(int socket, std::span<std::uint8_t> data);
bool writeAll(int socket, std::span<const std::uint8_t> data);

// A listening unix stream socket at `path` (a stale socket file there is replaced); -1 with a
// message on failure.
int listenUnix(const std::filesystem::path& path, std::string& error);
// A listening TCP socket on `address` ("127.0.0.1", "0.0.0.0", ...) and `port` (0: any free one);
// -1 with a message on failure.
int listenTcp(const std::string& address, std::uint16_t port, std::string& error);
// The port a TCP socket is bound to.
std::uint16_t boundPort(int socket);
// A connection from `listener`; -1 when none could be taken.
int acceptConnection(int listener);

void setNonBlocking(int socket, bool nonBlocking);
// Sends small messages at once: URBs go back and forth one at a time.
void setNoDelay(int socket);
// Bounds how long a read may wait; 0 lifts the bound.
void setReadTimeout(int socket, int seconds);
void closeSocket(int& socket); // and sets it to -1

} // namespace tarvix::farm_usb
