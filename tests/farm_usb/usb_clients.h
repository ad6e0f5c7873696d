// The host side of the farm's USB transports, as small as a test needs: a usbredir client built on
// libusbredirparser's own parser in the role QEMU's usb-redir plays, and a USB/IP client that
// writes the documented byte layouts by hand. Both carry control and bulk transfers to a served
// reader, so one table of checks runs over either.
#pragma once

#include <usbredirparser.h>

#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace tarvix::farm_usb_test {

constexpr int kWaitMs = 5000;

struct Reply {
  bool stalled = false;
  bool cancelled = false;
  std::vector<std::uint8_t> data;
};

class UsbClient {
public:
  virtual ~UsbClient() = default;
  // Nothing when the device gave no answer in time or the connection ended.
  virtual std::optional<Reply> control(std::uint8_t requestType, std::uint8_t request,
                                       std::uint16_t value, std::uint16_t index,
                                       std::uint16_t length) = 0;
  virtual std::optional<Reply> bulkOut(const std::vector<std::uint8_t>& data) = 0;
  // Sends a bulk IN request and returns its id at once; await() takes its reply.
  virtual std::uint64_t requestIn(std::uint32_t length) = 0;
  std::optional<Reply> await(std::uint64_t id, int waitMs = kWaitMs) {
    return awaitFor(id, waitMs);
  }
  virtual std::optional<Reply> awaitFor(std::uint64_t id, int waitMs) = 0;
  // Takes a waiting IN request back; its answer is a cancelled reply.
  virtual std::optional<Reply> cancel(std::uint64_t id) = 0;
  // True when the device closed the connection within `waitMs`.
  virtual bool closedByDevice(int waitMs = kWaitMs) = 0;
  std::optional<Reply> bulkIn(std::uint32_t length) { return await(requestIn(length)); }
};

inline int connectUnix(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline int connectTcp(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

inline bool readable(int fd, int waitMs) {
  pollfd wait{fd, POLLIN, 0};
  return ::poll(&wait, 1, waitMs) > 0;
}

// QEMU's side of usbredir: greets, waits for the device, and sends packets with ids of its own.
class RedirClient final : public UsbClient {
public:
  explicit RedirClient(int fd) : fd_(fd), parser_(usbredirparser_create()) {
    parser_->priv = this;
    parser_->read_func = [](void* priv, std::uint8_t* data, int count) -> int {
      const ssize_t got =
          ::recv(self(priv).fd_, data, static_cast<std::size_t>(count), MSG_DONTWAIT);
      if (got > 0) return static_cast<int>(got);
      if (got < 0 && errno == EAGAIN) return 0;
      self(priv).closed_ = true;
      return -1;
    };
    parser_->write_func = [](void* priv, std::uint8_t* data, int count) -> int {
      return static_cast<int>(
          ::send(self(priv).fd_, data, static_cast<std::size_t>(count), MSG_NOSIGNAL));
    };
    // The parser calls every callback of what arrives; these carry nothing the tests need.
    parser_->log_func = [](void*, int, const char*) {};
    parser_->hello_func = [](void*, usb_redir_hello_header*) {};
    parser_->interface_info_func = [](void*, usb_redir_interface_info_header*) {};
    parser_->ep_info_func = [](void*, usb_redir_ep_info_header*) {};
    parser_->device_disconnect_func = [](void*) {};
    parser_->device_connect_func = [](void* priv, usb_redir_device_connect_header* connect) {
      self(priv).device = *connect;
    };
    parser_->control_packet_func =
        [](void* priv, std::uint64_t id, usb_redir_control_packet_header* header,
           std::uint8_t* data, int length) { self(priv).store(id, header->status, data, length); };
    parser_->bulk_packet_func =
        [](void* priv, std::uint64_t id, usb_redir_bulk_packet_header* header, std::uint8_t* data,
           int length) { self(priv).store(id, header->status, data, length); };
    parser_->configuration_status_func = [](void* priv, std::uint64_t id,
                                            usb_redir_configuration_status_header* status) {
      self(priv).store(id, status->status, nullptr, 0);
    };
    std::uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
    for (const int cap :
         {usb_redir_cap_connect_device_version, usb_redir_cap_ep_info_max_packet_size,
          usb_redir_cap_64bits_ids, usb_redir_cap_32bits_bulk_length})
      usbredirparser_caps_set_cap(caps, cap);
    usbredirparser_init(parser_, "tarvix-farm test", caps, USB_REDIR_CAPS_SIZE, 0);
    flush();
  }
  ~RedirClient() override {
    usbredirparser_destroy(parser_);
    ::close(fd_);
  }

  // The device's announcement, once it has come.
  std::optional<usb_redir_device_connect_header> awaitDevice() {
    while (!device && pump(kWaitMs)) {
    }
    return device;
  }

  std::optional<Reply> control(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                               std::uint16_t index, std::uint16_t length) override {
    usb_redir_control_packet_header header{static_cast<std::uint8_t>(requestType & 0x80),
                                           request,
                                           requestType,
                                           0,
                                           value,
                                           index,
                                           length};
    const std::uint64_t id = nextId_++;
    usbredirparser_send_control_packet(parser_, id, &header, nullptr, 0);
    flush();
    return await(id);
  }
  std::optional<Reply> bulkOut(const std::vector<std::uint8_t>& data) override {
    std::vector<std::uint8_t> bytes = data;
    usb_redir_bulk_packet_header header{0x02, 0, static_cast<std::uint16_t>(bytes.size()), 0,
                                        static_cast<std::uint16_t>(bytes.size() >> 16)};
    const std::uint64_t id = nextId_++;
    usbredirparser_send_bulk_packet(parser_, id, &header, bytes.data(),
                                    static_cast<int>(bytes.size()));
    flush();
    return await(id);
  }
  std::uint64_t requestIn(std::uint32_t length) override {
    usb_redir_bulk_packet_header header{0x81, 0, static_cast<std::uint16_t>(length), 0,
                                        static_cast<std::uint16_t>(length >> 16)};
    const std::uint64_t id = nextId_++;
    usbredirparser_send_bulk_packet(parser_, id, &header, nullptr, 0);
    flush();
    return id;
  }
  std::optional<Reply> awaitFor(std::uint64_t id, int waitMs) override {
    while (replies_.count(id) == 0)
      if (!pump(waitMs)) return std::nullopt;
    Reply reply = replies_[id];
    replies_.erase(id);
    return reply;
  }
  std::optional<Reply> cancel(std::uint64_t id) override {
    usbredirparser_send_cancel_data_packet(parser_, id);
    flush();
    return await(id);
  }
  bool closedByDevice(int waitMs) override {
    while (!closed_)
      if (!readable(fd_, waitMs) || usbredirparser_do_read(parser_) != 0) break;
    return closed_;
  }
  std::optional<usb_redir_device_connect_header> device;

private:
  static RedirClient& self(void* priv) { return *static_cast<RedirClient*>(priv); }
  void store(std::uint64_t id, std::uint8_t status, std::uint8_t* data, int length) {
    Reply reply{status == usb_redir_stall, status == usb_redir_cancelled, {}};
    if (data != nullptr) reply.data.assign(data, data + length);
    replies_[id] = reply;
    usbredirparser_free_packet_data(parser_, data);
  }
  void flush() {
    while (usbredirparser_has_data_to_write(parser_) > 0)
      if (usbredirparser_do_write(parser_) != 0) return;
  }
  bool pump(int waitMs) {
    if (closed_ || !readable(fd_, waitMs)) return false;
    return usbredirparser_do_read(parser_) == 0 && !closed_;
  }

  int fd_;
  usbredirparser* parser_;
  bool closed_ = false;
  std::uint64_t nextId_ = 1;
  std::map<std::uint64_t, Reply> replies_;
};

// The USB/IP client: the operation exchange, then URBs, every number big-endian.
class UsbipClient final : public UsbClient {
public:
  explicit UsbipClient(int fd) : fd_(fd) {}
  ~UsbipClient() override { ::close(fd_); }

  static void put32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
      bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  static std::uint32_t get32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
  }

  // OP_REQ_DEVLIST on a connection of its own: the bus ids listed.
  static std::vector<std::string> deviceList(std::uint16_t port) {
    const int fd = connectTcp(port);
    std::vector<std::uint8_t> request = {0x01, 0x11, 0x80, 0x05, 0, 0, 0, 0};
    ::send(fd, request.data(), request.size(), 0);
    std::vector<std::string> ids;
    std::vector<std::uint8_t> head(12);
    if (receive(fd, head)) {
      for (std::uint32_t i = 0, count = get32(&head[8]); i < count; ++i) {
        std::vector<std::uint8_t> device(312);
        if (!receive(fd, device)) break;
        ids.emplace_back(reinterpret_cast<const char*>(&device[256]));
        std::vector<std::uint8_t> interfaces(4 * device[311]);
        receive(fd, interfaces);
      }
    }
    ::close(fd);
    return ids;
  }

  // OP_REQ_IMPORT of `busId`: the reply's status, 0 when the device is now this connection's;
  // the 312 bytes of the device when imported.
  std::uint32_t import(const std::string& busId, std::vector<std::uint8_t>* deviceBytes = nullptr) {
    std::vector<std::uint8_t> request = {0x01, 0x11, 0x80, 0x03, 0, 0, 0, 0};
    request.resize(8 + 32, 0);
    std::memcpy(&request[8], busId.data(), busId.size());
    ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
    std::vector<std::uint8_t> head(8);
    if (!receive(fd_, head)) return 0xFFFFFFFF;
    const std::uint32_t status = get32(&head[4]);
    std::vector<std::uint8_t> device(312);
    if (status == 0 && receive(fd_, device) && deviceBytes) *deviceBytes = device;
    return status;
  }

  std::optional<Reply> control(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                               std::uint16_t index, std::uint16_t length) override {
    const std::uint8_t setup[8] = {requestType,
                                   request,
                                   static_cast<std::uint8_t>(value),
                                   static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(index),
                                   static_cast<std::uint8_t>(index >> 8),
                                   static_cast<std::uint8_t>(length),
                                   static_cast<std::uint8_t>(length >> 8)};
    const std::uint32_t seq = submit((requestType & 0x80) != 0, 0, length, setup, {});
    return await(seq);
  }
  std::optional<Reply> bulkOut(const std::vector<std::uint8_t>& data) override {
    return await(submit(false, 2, static_cast<std::uint32_t>(data.size()), nullptr, data));
  }
  std::uint64_t requestIn(std::uint32_t length) override {
    return submit(true, 1, length, nullptr, {});
  }
  std::optional<Reply> awaitFor(std::uint64_t id, int waitMs) override {
    while (replies_.count(id) == 0)
      if (!readable(fd_, waitMs) || !receiveOne()) return std::nullopt;
    Reply reply = replies_[id];
    replies_.erase(id);
    return reply;
  }
  // CMD_UNLINK: the RET_UNLINK says whether the URB was taken back (then it gets no RET_SUBMIT).
  std::optional<Reply> cancel(std::uint64_t id) override {
    std::vector<std::uint8_t> message;
    const std::uint32_t seq = nextSeq_++;
    for (const std::uint32_t field : {2u, seq, 0x00010002u, 0u, 0u, static_cast<std::uint32_t>(id)})
      put32(message, field);
    message.resize(48, 0);
    ::send(fd_, message.data(), message.size(), MSG_NOSIGNAL);
    return await(seq);
  }
  bool closedByDevice(int waitMs) override {
    while (readable(fd_, waitMs))
      if (!receiveOne()) return true;
    return false;
  }

private:
  static bool receive(int fd, std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      if (!readable(fd, kWaitMs)) return false;
      const ssize_t got = ::recv(fd, bytes.data() + done, bytes.size() - done, 0);
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }
  std::uint32_t submit(bool in, std::uint32_t endpoint, std::uint32_t length,
                       const std::uint8_t* setup, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> message;
    const std::uint32_t seq = nextSeq_++;
    for (const std::uint32_t field :
         {1u, seq, 0x00010002u, in ? 1u : 0u, endpoint, 0u, length, 0u, 0xFFFFFFFFu, 0u})
      put32(message, field);
    message.resize(40, 0);
    if (setup) message.insert(message.end(), setup, setup + 8);
    message.resize(48, 0);
    message.insert(message.end(), data.begin(), data.end());
    ::send(fd_, message.data(), message.size(), MSG_NOSIGNAL);
    inbound_[seq] = in;
    return seq;
  }
  bool receiveOne() {
    std::vector<std::uint8_t> head(48);
    if (!receive(fd_, head)) return false;
    const std::uint32_t command = get32(&head[0]);
    const std::uint32_t seq = get32(&head[4]);
    const auto status = static_cast<std::int32_t>(get32(&head[20]));
    Reply reply{status == -EPIPE, command == 4 && status == -ECONNRESET, {}};
    if (command == 3) {
      // An OUT transfer's actual length counts what was taken; no bytes follow it.
      if (inbound_[seq]) {
        reply.data.resize(get32(&head[24]));
        if (!receive(fd_, reply.data)) return false;
      }
    }
    replies_[seq] = reply;
    return true;
  }
  int fd_;
  std::uint32_t nextSeq_ = 1;
  std::map<std::uint64_t, Reply> replies_;
  std::map<std::uint32_t, bool> inbound_; // per submitted URB: an IN transfer
};

} // namespace tarvix::farm_usb_test
