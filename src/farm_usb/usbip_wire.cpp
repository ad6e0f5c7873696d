#include "farm_usb/usbip_wire.h"

#include "farm_usb/descriptors.h"
#include "platform/byte_order.h"

#include <algorithm>

namespace tarvix::farm_usb::usbip {
namespace {

using platform::bigEndian;
using platform::putBigEndian;

class Writer {
public:
  void u8(std::uint8_t value) { bytes_.push_back(value); }
  void u16(std::uint16_t value) { number(value, 2); }
  void u32(std::uint32_t value) { number(value, 4); }
  void text(const std::string& value, std::size_t width) {
    const std::size_t length = std::min(value.size(), width - 1); // always zero-terminated
    bytes_.insert(bytes_.end(), value.begin(), value.begin() + static_cast<std::ptrdiff_t>(length));
    bytes_.resize(bytes_.size() + width - length, 0);
  }
  void zeros(std::size_t count) { bytes_.resize(bytes_.size() + count, 0); }
  void data(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  }
  std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
  void number(std::uint64_t value, std::size_t width) {
    bytes_.resize(bytes_.size() + width);
    putBigEndian(bytes_.data() + bytes_.size() - width, value, width);
  }
  std::vector<std::uint8_t> bytes_;
};

void operationHeader(Writer& out, std::uint16_t code, std::uint32_t status) {
  out.u16(kVersion);
  out.u16(code);
  out.u32(status);
}

void device(Writer& out, const ExportedDevice& exported) {
  out.text("/sys/devices/tarvix-farm/" + exported.busId, kDevicePathBytes);
  out.text(exported.busId, kBusIdBytes);
  out.u32(exported.busNumber);
  out.u32(exported.deviceNumber);
  out.u32(kSpeedHigh);
  out.u16(exported.reader->vendorId);
  out.u16(exported.reader->productId);
  out.u16(kDeviceRelease);
  out.u8(0); // class, subclass, protocol: the interface's
  out.u8(0);
  out.u8(0);
  out.u8(kConfigurationValue);
  out.u8(1); // configurations
  out.u8(1); // interfaces
}

} // namespace

OperationHeader parseOperationHeader(std::span<const std::uint8_t, kOperationHeaderBytes> bytes) {
  return {bigEndian<std::uint16_t>(bytes.data(), 2), bigEndian<std::uint16_t>(bytes.data() + 2, 2),
          bigEndian(bytes.data() + 4, 4)};
}

std::string parseBusId(std::span<const std::uint8_t, kBusIdBytes> bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), 0);
  return {bytes.begin(), end};
}

std::vector<std::uint8_t> deviceListReply(std::span<const ExportedDevice> devices) {
  Writer out;
  operationHeader(out, kReplyDeviceList, kStatusOk);
  out.u32(static_cast<std::uint32_t>(devices.size()));
  for (const ExportedDevice& exported : devices) {
    device(out, exported);
    out.u8(kMassStorageClass);
    out.u8(kScsiTransparentSubclass);
    out.u8(kBulkOnlyProtocol);
    out.u8(0); // padding
  }
  return out.take();
}

std::vector<std::uint8_t> importReply(const ExportedDevice* exported) {
  Writer out;
  operationHeader(out, kReplyImport, exported ? kStatusOk : kStatusError);
  if (exported) device(out, *exported);
  return out.take();
}

UrbHeader parseUrbHeader(std::span<const std::uint8_t, kUrbHeaderBytes> bytes) {
  const std::uint8_t* b = bytes.data();
  UrbHeader header;
  header.command = bigEndian(b, 4);
  header.sequenceNumber = bigEndian(b + 4, 4);
  header.deviceId = bigEndian(b + 8, 4);
  header.direction = bigEndian(b + 12, 4);
  header.endpoint = bigEndian(b + 16, 4);
  if (header.command == kCommandSubmit) {
    header.bufferLength = bigEndian(b + 24, 4);
    header.packetCount = bigEndian(b + 32, 4);
    std::copy(b + 40, b + 48, header.setup.begin());
  } else if (header.command == kCommandUnlink) {
    header.unlinkSequenceNumber = bigEndian(b + 20, 4);
  }
  return header;
}

std::vector<std::uint8_t> submitReply(std::uint32_t sequenceNumber, std::int32_t status,
                                      std::uint32_t actualLength,
                                      std::span<const std::uint8_t> data) {
  Writer out;
  out.u32(kReplySubmit);
  out.u32(sequenceNumber);
  out.zeros(12); // device id, direction and endpoint are the command's, and unused
  out.u32(static_cast<std::uint32_t>(status));
  out.u32(actualLength);
  out.zeros(20); // start frame, packet count, error count, padding
  out.data(data);
  return out.take();
}

std::vector<std::uint8_t> unlinkReply(std::uint32_t sequenceNumber, std::int32_t status) {
  Writer out;
  out.u32(kReplyUnlink);
  out.u32(sequenceNumber);
  out.zeros(12);
  out.u32(static_cast<std::uint32_t>(status));
  out.zeros(24);
  return out.take();
}

} // namespace tarvix::farm_usb::usbip
