// One farm reader as a USB mass-storage device: its control requests, and Bulk-Only Transport on
// its two bulk endpoints (command block wrapper, data, status wrapper, sense, halts and resets).
// Every command block goes to the farm's emulator through Farm::sendToUnit, so the served reader
// has the same images, faults and bandwidth as the in-process farm. Transports (usbredir, USB/IP)
// carry transfers in and out; the device is the same behind both.
// Not thread-safe: one transport thread drives one device. The farm must outlive it.
#pragma once

#include "farm_usb/descriptors.h"
#include "platform/sim/farm.h"

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace tarvix::farm_usb {

struct SetupPacket {
  std::uint8_t requestType = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
};

enum class TransferStatus : std::uint8_t { Done, Stall };

struct Transfer {
  TransferStatus status = TransferStatus::Done;
  std::vector<std::uint8_t> data; // what an IN transfer returns
};

// A bulk IN request answered: the transport's id of the request and the reply.
struct InReply {
  std::uint64_t id = 0;
  Transfer transfer;
};

class MassStorageDevice {
public:
  // The device of one plug-in (`generation`, Farm::plugGeneration) of the reader: once it is
  // pulled, the device is gone for good; a new plug-in is a new device.
  MassStorageDevice(platform::sim::Farm& farm, const platform::sim::ReaderPlan& reader,
                    std::uint64_t generation, Speed speed);

  // A control transfer; none of the requests the device takes carries data to it.
  Transfer control(const SetupPacket& setup);
  Transfer bulkOut(std::span<const std::uint8_t> data);
  // Bulk IN requests wait in arrival order until the device has something to send: a request
  // may come before its command, and after a hang none is answered until a reset.
  void queueIn(std::uint64_t id, std::uint32_t length);
  // Takes back a waiting request; false when it is not waiting (already answered or unknown).
  bool cancelIn(std::uint64_t id);
  // The waiting requests that can be answered now, in order; call after every other call.
  std::vector<InReply> answerableIns();
  // A bus reset or a new configuration: the transport starts over and the halts are cleared.
  void reset();
  // The reader left the bus while a command ran (pulled, perhaps by a fault): the transport
  // closes.
  bool gone() const { return gone_; }

private:
  enum class Phase : std::uint8_t { Command, DataOut, DataIn, Status, Hung, NeedsReset };
  struct PendingIn {
    std::uint64_t id;
    std::uint32_t length;
  };

  Transfer standardRequest(const SetupPacket& setup);
  Transfer classRequest(const SetupPacket& setup);
  void takeCommand(std::span<const std::uint8_t> wrapper);
  void execute();
  void answerRequestSense(unsigned lun);
  std::vector<std::uint8_t> statusWrapper() const;
  bool& halt(std::uint8_t endpoint) { return endpoint == kBulkInEndpoint ? inHalted_ : outHalted_; }

  platform::sim::Farm& farm_;
  const platform::sim::ReaderPlan& reader_;
  std::uint64_t generation_;
  Speed speed_;
  std::uint8_t configuration_ = 0;
  bool inHalted_ = false;
  bool outHalted_ = false;
  bool gone_ = false;
  std::deque<PendingIn> pendingIns_;

  Phase phase_ = Phase::Command;
  std::uint32_t tag_ = 0;
  unsigned lun_ = 0;
  bool dataIn_ = false;
  std::array<std::uint8_t, 16> commandBlock_{};
  std::vector<std::uint8_t> data_; // the data phase's bytes, whichever way they go
  std::size_t moved_ = 0;          // bytes of data_ moved so far
  std::uint32_t residue_ = 0;
  std::uint8_t commandStatus_ = 0;
  // Per logical unit the wrapper can name: the sense of its last command, for REQUEST SENSE.
  std::array<std::array<std::uint8_t, 18>, 16> sense_{};
};

} // namespace tarvix::farm_usb
