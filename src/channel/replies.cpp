#include "channel/replies.h"
#include "platform/byte_order.h"

namespace tarvix::channel {
namespace {

std::uint8_t byteAt(std::span<const std::uint8_t> reply, std::size_t index) {
  return index < reply.size() ? reply[index] : 0;
}

} // namespace

Capacity decodeCapacity(std::span<const std::uint8_t, 8> reply) {
  return Capacity{platform::bigEndian32(&reply[0]), platform::bigEndian32(&reply[4])};
}

std::uint64_t capacityMiB(std::uint32_t sectorCount, std::uint32_t sectorSize) {
  return (static_cast<std::uint64_t>(sectorCount) * sectorSize) >> 20;
}

UsbIdentity decodeIdentity(std::span<const std::uint8_t> reply) {
  return UsbIdentity{
      static_cast<std::uint16_t>(byteAt(reply, 0) << 8 | byteAt(reply, 1)),
      static_cast<std::uint16_t>(byteAt(reply, 2) << 8 | byteAt(reply, 3)),
  };
}

CardType decodeCardType(std::span<const std::uint8_t> reply) {
  switch (byteAt(reply, 0)) {
  case 0xF7: return CardType::XD;
  case 0xFB: return CardType::CF;
  case 0xFD: return CardType::MS;
  case 0xFE: return CardType::SdMmc;
  case 0xFF: return CardType::NoCard;
  default: return CardType::Unrecognised;
  }
}

std::uint8_t decodeModelNibble(std::span<const std::uint8_t> reply) {
  return static_cast<std::uint8_t>(byteAt(reply, 4) >> 4);
}

std::array<std::uint8_t, 3> decodeLunKinds(std::span<const std::uint8_t> reply) {
  return {byteAt(reply, 5), byteAt(reply, 6), byteAt(reply, 7)};
}

std::string decodeEepromModelNumber(std::span<const std::uint8_t> reply) {
  std::string model;
  for (std::size_t i = 2; i < 6; ++i)
    model += static_cast<char>(byteAt(reply, i));
  return model;
}

} // namespace tarvix::channel
