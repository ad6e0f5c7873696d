// The controller's replies as the station takes them in: a reader whose every answer (success or
// refusal, the reply bytes, the sense bytes) comes from the fuzzer, asked the queries the station
// decodes: capacity in both forms, GetVIDPID 14h, 16h and 3Eh, the EEPROM, the card's last sector.
// Whatever a reader answers, no decoder may read or write outside its buffers.
#include "channel/replies.h"
#include "channel/command_blocks.h"
#include "channel/vendor_commands.h"
#include "fuzz_input.h"
#include "run/card_information_sector.h"

#include <algorithm>
#include <vector>

using namespace tarvix;

namespace {

class NoClock final : public platform::Clock {
public:
  std::uint64_t tickMs() const override { return 0; }
  void sleepMs(std::uint32_t) override {}
  std::chrono::nanoseconds realDuration(std::uint32_t) const override { return {}; }
  platform::LocalTime localTime() const override { return {}; }
};

class NoTrace final : public platform::TraceSink {
public:
  void line(std::string_view) override {}
};

// Answers from the fuzzer's bytes: a verdict byte, then for a read a length and that many reply
// bytes, or for a refusal up to the sense area's length of sense bytes.
class ScriptedReader final : public platform::ReaderAccess {
public:
  explicit ScriptedReader(fuzz::FuzzInput& in) : in_(in) {}
  platform::ReaderHandle open(std::string_view) override { return 1; }
  void close(platform::ReaderHandle) override {}
  bool send(platform::ReaderHandle, platform::PassThroughRequest& request) override {
    if (in_.byte() % 4 == 0) {
      const std::string_view sense = take(request.senseLength);
      std::copy(sense.begin(), sense.end(), request.sense.begin());
      request.errorCode = EIO;
      return false;
    }
    if (request.direction == platform::DataDirection::In && request.dataLength > 0) {
      const std::size_t length = std::size_t{in_.byte()} << 8 | in_.byte();
      const std::string_view reply = take(std::min<std::size_t>(length, request.dataLength));
      std::copy(reply.begin(), reply.end(), request.data);
    }
    return true;
  }

private:
  std::string_view take(std::size_t n) {
    const std::string_view bytes = in_.rest().substr(0, n);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      in_.byte();
    return bytes;
  }
  fuzz::FuzzInput& in_;
};

void vidPid(channel::ReaderHandleHolder& holder, std::uint8_t subCode) {
  std::vector<std::uint8_t> reply(channel::kVidPidImageLength, 0xA5);
  const std::span<std::uint8_t, channel::kVidPidImageLength> image(reply.data(), reply.size());
  const bool ok = channel::GetVIDPID(holder, subCode, image);
  if (!ok && subCode != channel::kVidPidConfiguration)
    fuzz::expect(std::all_of(reply.begin(), reply.end(), [](auto b) { return b == 0; }),
                 "a refused identity query reads as zeros");
  (void)channel::decodeIdentity(reply);
  (void)channel::decodeCardType(reply);
  (void)channel::decodeModelNibble(reply);
  (void)channel::decodeLunKinds(reply);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  ScriptedReader reader(in);
  NoClock clock;
  NoTrace trace;
  channel::ReaderHandleHolder holder(reader, trace);
  // Every reply is fuzzed whether or not the open's own reply said the reader is there.
  (void)channel::GetUSBDeviceHandle(holder, "E:", clock);
  while (!in.empty()) {
    std::uint32_t count = 0;
    std::uint32_t sectorSize = 0;
    switch (in.byte() % 7) {
    case 0:
      if (channel::GetCapacity(holder, count, sectorSize, in.byte()))
        (void)channel::capacityMiB(count, sectorSize);
      break;
    case 1:
      if (channel::GetCapacity(holder, count, sectorSize))
        (void)channel::capacityMiB(count, sectorSize);
      break;
    case 2: vidPid(holder, channel::kVidPidIdentity); break;
    case 3: vidPid(holder, channel::kVidPidCardType); break;
    case 4: vidPid(holder, channel::kVidPidConfiguration); break;
    case 5: {
      // Exactly the length asked for, so a decoder that reads past it is caught.
      std::vector<std::uint8_t> eeprom(in.byte());
      if (channel::ReadEEPROM(holder, eeprom)) (void)channel::decodeEepromModelNumber(eeprom);
      break;
    }
    default: {
      std::vector<std::uint8_t> sector(run::kInformationBlockAt * 2);
      if (channel::ReadLastCardBlock(holder, sector))
        (void)run::recordedCdromSectors(std::span<const std::uint8_t, 512>(sector.data(), 512));
      break;
    }
    }
  }
  return 0;
}
