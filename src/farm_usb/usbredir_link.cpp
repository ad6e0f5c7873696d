#include "farm_usb/usbredir_link.h"

#include <usbredirfilter.h>
#include <usbredirparser.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>

namespace tarvix::farm_usb {
namespace {

constexpr const char* kVersion = "tarvix-farm";
constexpr std::uint8_t kEndpointIndexIn = 0x10; // usbredir's endpoint tables put IN after OUT

constexpr std::uint8_t endpointIndex(std::uint8_t endpoint) {
  return static_cast<std::uint8_t>(((endpoint & kEndpointDirectionIn) != 0 ? kEndpointIndexIn : 0) |
                                   (endpoint & 0x0F));
}

std::uint8_t redirStatus(TransferStatus status) {
  return status == TransferStatus::Stall ? usb_redir_stall : usb_redir_success;
}

} // namespace

struct UsbredirLink::Callbacks {
  static UsbredirLink& link(void* priv) { return *static_cast<UsbredirLink*>(priv); }

  static void log(void* priv, int level, const char* message) {
    if (level <= usbredirparser_error)
      std::fprintf(stderr, "tarvix-farm: %s: usbredir: %s\n", link(priv).reader_.id.c_str(),
                   message);
  }

  static int read(void* priv, std::uint8_t* data, int count) {
    const ssize_t got = ::recv(link(priv).socket_, data, static_cast<std::size_t>(count), 0);
    if (got > 0) return static_cast<int>(got);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    return -1; // closed or failed
  }

  // Writes everything, waiting while the socket is full: a device answers in order.
  static int write(void* priv, std::uint8_t* data, int count) {
    UsbredirLink& self = link(priv);
    int written = 0;
    while (written < count) {
      const ssize_t sent = ::send(self.socket_, data + written,
                                  static_cast<std::size_t>(count - written), MSG_NOSIGNAL);
      if (sent > 0) {
        written += static_cast<int>(sent);
        continue;
      }
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        pollfd wait{self.socket_, POLLOUT, 0};
        ::poll(&wait, 1, -1);
        continue;
      }
      self.failed_ = true;
      return -1;
    }
    return written;
  }

  static void hello(void* priv, usb_redir_hello_header* /*hello*/) {
    UsbredirLink& self = link(priv);
    usb_redir_interface_info_header interfaces{};
    interfaces.interface_count = 1;
    interfaces.interface[0] = kInterfaceNumber;
    interfaces.interface_class[0] = kMassStorageClass;
    interfaces.interface_subclass[0] = kScsiTransparentSubclass;
    interfaces.interface_protocol[0] = kBulkOnlyProtocol;
    usbredirparser_send_interface_info(self.parser_, &interfaces);

    usb_redir_ep_info_header endpoints{};
    for (std::uint8_t& type : endpoints.type)
      type = usb_redir_type_invalid;
    for (const std::uint8_t control : {std::uint8_t{0x00}, kRequestIn}) {
      endpoints.type[endpointIndex(control)] = usb_redir_type_control;
      endpoints.max_packet_size[endpointIndex(control)] = kControlPacketBytes;
    }
    for (const std::uint8_t bulk : {kBulkInEndpoint, kBulkOutEndpoint}) {
      endpoints.type[endpointIndex(bulk)] = usb_redir_type_bulk;
      endpoints.interface[endpointIndex(bulk)] = kInterfaceNumber;
      endpoints.max_packet_size[endpointIndex(bulk)] = bulkPacketBytes(self.speed_);
    }
    usbredirparser_send_ep_info(self.parser_, &endpoints);

    usb_redir_device_connect_header device{};
    device.speed = self.speed_ == Speed::High ? usb_redir_speed_high : usb_redir_speed_full;
    device.vendor_id = self.reader_.vendorId;
    device.product_id = self.reader_.productId;
    device.device_version_bcd = kDeviceRelease;
    usbredirparser_send_device_connect(self.parser_, &device);
  }

  static void reset(void* priv) { link(priv).device_.reset(); }

  static void setConfiguration(void* priv, std::uint64_t id,
                               usb_redir_set_configuration_header* request) {
    UsbredirLink& self = link(priv);
    const Transfer reply =
        self.device_.control({kRecipientDevice, kSetConfiguration, request->configuration, 0, 0});
    usb_redir_configuration_status_header status{redirStatus(reply.status), request->configuration};
    usbredirparser_send_configuration_status(self.parser_, id, &status);
  }

  static void getConfiguration(void* priv, std::uint64_t id) {
    UsbredirLink& self = link(priv);
    const Transfer reply = self.device_.control({kRequestIn, kGetConfiguration, 0, 0, 1});
    usb_redir_configuration_status_header status{
        redirStatus(reply.status), reply.data.empty() ? std::uint8_t{0} : reply.data[0]};
    usbredirparser_send_configuration_status(self.parser_, id, &status);
  }

  static void setAltSetting(void* priv, std::uint64_t id,
                            usb_redir_set_alt_setting_header* request) {
    UsbredirLink& self = link(priv);
    const Transfer reply = self.device_.control(
        {kRecipientInterface, kSetInterface, request->alt, request->interface, 0});
    usb_redir_alt_setting_status_header status{redirStatus(reply.status), request->interface,
                                               request->alt};
    usbredirparser_send_alt_setting_status(self.parser_, id, &status);
  }

  static void getAltSetting(void* priv, std::uint64_t id,
                            usb_redir_get_alt_setting_header* request) {
    const bool ours = request->interface == kInterfaceNumber;
    usb_redir_alt_setting_status_header status{
        static_cast<std::uint8_t>(ours ? usb_redir_success : usb_redir_inval), request->interface,
        0};
    usbredirparser_send_alt_setting_status(link(priv).parser_, id, &status);
  }

  // The reader has no isochronous, interrupt or stream endpoints: such requests are invalid.
  static void startIso(void* priv, std::uint64_t id, usb_redir_start_iso_stream_header* request) {
    usb_redir_iso_stream_status_header status{usb_redir_inval, request->endpoint};
    usbredirparser_send_iso_stream_status(link(priv).parser_, id, &status);
  }
  static void stopIso(void* priv, std::uint64_t id, usb_redir_stop_iso_stream_header* request) {
    usb_redir_iso_stream_status_header status{usb_redir_inval, request->endpoint};
    usbredirparser_send_iso_stream_status(link(priv).parser_, id, &status);
  }
  static void startInterrupt(void* priv, std::uint64_t id,
                             usb_redir_start_interrupt_receiving_header* request) {
    usb_redir_interrupt_receiving_status_header status{usb_redir_inval, request->endpoint};
    usbredirparser_send_interrupt_receiving_status(link(priv).parser_, id, &status);
  }
  static void stopInterrupt(void* priv, std::uint64_t id,
                            usb_redir_stop_interrupt_receiving_header* request) {
    usb_redir_interrupt_receiving_status_header status{usb_redir_inval, request->endpoint};
    usbredirparser_send_interrupt_receiving_status(link(priv).parser_, id, &status);
  }
  static void allocStreams(void* priv, std::uint64_t id,
                           usb_redir_alloc_bulk_streams_header* request) {
    usb_redir_bulk_streams_status_header status{request->endpoints, 0, usb_redir_inval};
    usbredirparser_send_bulk_streams_status(link(priv).parser_, id, &status);
  }
  static void freeStreams(void* priv, std::uint64_t id,
                          usb_redir_free_bulk_streams_header* request) {
    usb_redir_bulk_streams_status_header status{request->endpoints, 0, usb_redir_inval};
    usbredirparser_send_bulk_streams_status(link(priv).parser_, id, &status);
  }
  static void startBulkReceiving(void* priv, std::uint64_t id,
                                 usb_redir_start_bulk_receiving_header* request) {
    usb_redir_bulk_receiving_status_header status{request->stream_id, request->endpoint,
                                                  usb_redir_inval};
    usbredirparser_send_bulk_receiving_status(link(priv).parser_, id, &status);
  }
  static void stopBulkReceiving(void* priv, std::uint64_t id,
                                usb_redir_stop_bulk_receiving_header* request) {
    usb_redir_bulk_receiving_status_header status{request->stream_id, request->endpoint,
                                                  usb_redir_inval};
    usbredirparser_send_bulk_receiving_status(link(priv).parser_, id, &status);
  }

  static void cancel(void* priv, std::uint64_t id) {
    UsbredirLink& self = link(priv);
    if (!self.device_.cancelIn(id)) return; // answered already: the peer drops the answer
    usb_redir_bulk_packet_header header{};
    header.endpoint = kBulkInEndpoint;
    header.status = usb_redir_cancelled;
    usbredirparser_send_bulk_packet(self.parser_, id, &header, nullptr, 0);
  }

  static void filterReject(void*) {}
  static void filterFilter(void*, usbredirfilter_rule* rules, int) { std::free(rules); }
  static void disconnectAck(void*) {}

  static void control(void* priv, std::uint64_t id, usb_redir_control_packet_header* header,
                      std::uint8_t* data, int /*length*/) {
    UsbredirLink& self = link(priv);
    const SetupPacket setup{header->requesttype, header->request, header->value, header->index,
                            header->length};
    const Transfer reply = self.device_.control(setup);
    usbredirparser_free_packet_data(self.parser_, data);
    usb_redir_control_packet_header answer = *header;
    answer.status = redirStatus(reply.status);
    const bool in = (header->endpoint & kEndpointDirectionIn) != 0;
    answer.length = in ? static_cast<std::uint16_t>(reply.data.size()) : header->length;
    std::vector<std::uint8_t> bytes = in ? reply.data : std::vector<std::uint8_t>();
    usbredirparser_send_control_packet(self.parser_, id, &answer,
                                       bytes.empty() ? nullptr : bytes.data(),
                                       static_cast<int>(bytes.size()));
    self.sendDueIns();
  }

  static void bulk(void* priv, std::uint64_t id, usb_redir_bulk_packet_header* header,
                   std::uint8_t* data, int length) {
    UsbredirLink& self = link(priv);
    if ((header->endpoint & kEndpointDirectionIn) != 0) {
      usbredirparser_free_packet_data(self.parser_, data);
      const std::uint32_t wanted = header->length | std::uint32_t{header->length_high} << 16;
      self.device_.queueIn(id, wanted);
    } else {
      const Transfer reply =
          self.device_.bulkOut({data, data == nullptr ? 0 : static_cast<std::size_t>(length)});
      usbredirparser_free_packet_data(self.parser_, data);
      usb_redir_bulk_packet_header answer = *header; // the length says all was taken
      answer.status = redirStatus(reply.status);
      if (reply.status == TransferStatus::Stall) {
        answer.length = 0;
        answer.length_high = 0;
      }
      usbredirparser_send_bulk_packet(self.parser_, id, &answer, nullptr, 0);
    }
    self.sendDueIns();
  }

  // Packets of endpoint kinds the reader does not have.
  static void iso(void* priv, std::uint64_t id, usb_redir_iso_packet_header* header,
                  std::uint8_t* data, int) {
    usbredirparser_free_packet_data(link(priv).parser_, data);
    usb_redir_iso_packet_header answer{header->endpoint, usb_redir_inval, 0};
    usbredirparser_send_iso_packet(link(priv).parser_, id, &answer, nullptr, 0);
  }
  static void interrupt(void* priv, std::uint64_t id, usb_redir_interrupt_packet_header* header,
                        std::uint8_t* data, int) {
    usbredirparser_free_packet_data(link(priv).parser_, data);
    usb_redir_interrupt_packet_header answer{header->endpoint, usb_redir_inval, 0};
    usbredirparser_send_interrupt_packet(link(priv).parser_, id, &answer, nullptr, 0);
  }
};

UsbredirLink::UsbredirLink(int socket, platform::sim::Farm& farm,
                           const platform::sim::ReaderPlan& reader, std::uint64_t generation,
                           Speed speed)
    : socket_(socket), device_(farm, reader, generation, speed), reader_(reader), speed_(speed),
      parser_(usbredirparser_create()) {
  usbredirparser& p = *parser_;
  p.priv = this;
  p.log_func = Callbacks::log;
  p.read_func = Callbacks::read;
  p.write_func = Callbacks::write;
  p.hello_func = Callbacks::hello;
  p.reset_func = Callbacks::reset;
  p.set_configuration_func = Callbacks::setConfiguration;
  p.get_configuration_func = Callbacks::getConfiguration;
  p.set_alt_setting_func = Callbacks::setAltSetting;
  p.get_alt_setting_func = Callbacks::getAltSetting;
  p.start_iso_stream_func = Callbacks::startIso;
  p.stop_iso_stream_func = Callbacks::stopIso;
  p.start_interrupt_receiving_func = Callbacks::startInterrupt;
  p.stop_interrupt_receiving_func = Callbacks::stopInterrupt;
  p.alloc_bulk_streams_func = Callbacks::allocStreams;
  p.free_bulk_streams_func = Callbacks::freeStreams;
  p.start_bulk_receiving_func = Callbacks::startBulkReceiving;
  p.stop_bulk_receiving_func = Callbacks::stopBulkReceiving;
  p.cancel_data_packet_func = Callbacks::cancel;
  p.filter_reject_func = Callbacks::filterReject;
  p.filter_filter_func = Callbacks::filterFilter;
  p.device_disconnect_ack_func = Callbacks::disconnectAck;
  p.control_packet_func = Callbacks::control;
  p.bulk_packet_func = Callbacks::bulk;
  p.iso_packet_func = Callbacks::iso;
  p.interrupt_packet_func = Callbacks::interrupt;
  std::uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
  // What QEMU's xhci needs of a redirected device, and bulk transfers above 64 KiB.
  for (const int cap : {usb_redir_cap_connect_device_version, usb_redir_cap_filter,
                        usb_redir_cap_device_disconnect_ack, usb_redir_cap_ep_info_max_packet_size,
                        usb_redir_cap_64bits_ids, usb_redir_cap_32bits_bulk_length})
    usbredirparser_caps_set_cap(caps, cap);
  usbredirparser_init(parser_, kVersion, caps, USB_REDIR_CAPS_SIZE, usbredirparser_fl_usb_host);
}

UsbredirLink::~UsbredirLink() { usbredirparser_destroy(parser_); }

void UsbredirLink::sendDueIns() {
  for (InReply& reply : device_.answerableIns()) {
    usb_redir_bulk_packet_header header{};
    header.endpoint = kBulkInEndpoint;
    header.status = redirStatus(reply.transfer.status);
    const auto length = static_cast<std::uint32_t>(reply.transfer.data.size());
    header.length = static_cast<std::uint16_t>(length);
    header.length_high = static_cast<std::uint16_t>(length >> 16);
    usbredirparser_send_bulk_packet(parser_, reply.id, &header,
                                    length == 0 ? nullptr : reply.transfer.data.data(),
                                    static_cast<int>(length));
  }
}

bool UsbredirLink::serve() {
  if (usbredirparser_do_read(parser_) == usbredirparser_read_io_error) return false;
  while (!failed_ && usbredirparser_has_data_to_write(parser_) > 0)
    if (usbredirparser_do_write(parser_) != 0) return false;
  return !failed_ && !device_.gone();
}

} // namespace tarvix::farm_usb
