#include "farm_usb/usbip_link.h"

#include "farm_usb/socket_io.h"
#include "farm_usb/usbip_wire.h"
#include "platform/byte_order.h"

#include <cerrno>

namespace tarvix::farm_usb {
namespace {

// What the kernel's URBs carry: a halted endpoint, and a request taken back by an unlink.
constexpr std::int32_t kStalled = -EPIPE;
constexpr std::int32_t kUnlinked = -ECONNRESET;
// A URB asks no more than the largest command moves, and a control transfer's 64 KiB.
constexpr std::uint32_t kLargestUrb = 0xFFFF * 512;
// Isochronous URBs carry this in place of a packet count: none.
constexpr std::uint32_t kNoPackets = 0xFFFFFFFF;

std::int32_t urbStatus(TransferStatus status) {
  return status == TransferStatus::Stall ? kStalled : 0;
}

} // namespace

UsbipLink::UsbipLink(int socket, platform::sim::Farm& farm, const platform::sim::ReaderPlan& reader,
                     std::uint64_t generation)
    : socket_(socket), device_(farm, reader, generation, Speed::High) {}

bool UsbipLink::send(const std::vector<std::uint8_t>& message) {
  return writeAll(socket_, message);
}

bool UsbipLink::sendDueIns() {
  for (const InReply& reply : device_.answerableIns()) {
    const auto length = static_cast<std::uint32_t>(reply.transfer.data.size());
    if (!send(usbip::submitReply(static_cast<std::uint32_t>(reply.id),
                                 urbStatus(reply.transfer.status), length, reply.transfer.data)))
      return false;
  }
  return true;
}

bool UsbipLink::serve() {
  std::array<std::uint8_t, usbip::kUrbHeaderBytes> bytes{};
  if (!readAll(socket_, bytes)) return false;
  const usbip::UrbHeader header = usbip::parseUrbHeader(bytes);
  const bool in = header.direction == usbip::kDirectionIn;
  if (header.command == usbip::kCommandUnlink) {
    const bool taken = device_.cancelIn(header.unlinkSequenceNumber);
    return send(usbip::unlinkReply(header.sequenceNumber, taken ? kUnlinked : 0)) && sendDueIns();
  }
  if (header.command != usbip::kCommandSubmit || header.bufferLength > kLargestUrb ||
      (header.packetCount != 0 && header.packetCount != kNoPackets))
    return false;
  std::vector<std::uint8_t> data(in ? 0 : header.bufferLength);
  if (!readAll(socket_, data)) return false;

  if (header.endpoint == 0) {
    const std::uint8_t* s = header.setup.data();
    const SetupPacket setup{s[0], s[1],
                            static_cast<std::uint16_t>(platform::littleEndian(s + 2, 2)),
                            static_cast<std::uint16_t>(platform::littleEndian(s + 4, 2)),
                            static_cast<std::uint16_t>(platform::littleEndian(s + 6, 2))};
    const Transfer reply = device_.control(setup);
    const auto length = static_cast<std::uint32_t>(in ? reply.data.size() : data.size());
    if (!send(usbip::submitReply(header.sequenceNumber, urbStatus(reply.status), length,
                                 in ? std::span<const std::uint8_t>(reply.data)
                                    : std::span<const std::uint8_t>())))
      return false;
  } else if (in && header.endpoint == (kBulkInEndpoint & 0x0F)) {
    device_.queueIn(header.sequenceNumber, header.bufferLength);
  } else {
    const Transfer reply = header.endpoint == kBulkOutEndpoint && !in
                               ? device_.bulkOut(data)
                               : Transfer{TransferStatus::Stall, {}};
    const auto taken = reply.status == TransferStatus::Done ? header.bufferLength : 0;
    if (!send(usbip::submitReply(header.sequenceNumber, urbStatus(reply.status), taken, {})))
      return false;
  }
  return sendDueIns() && !device_.gone();
}

} // namespace tarvix::farm_usb
