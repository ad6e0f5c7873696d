#include "farm_usb/mass_storage.h"

#include "platform/byte_order.h"
#include "platform/sim/wire.h"

#include <algorithm>
#include <cerrno>

namespace tarvix::farm_usb {
namespace {

namespace sim = platform::sim;
using platform::DataDirection;
using platform::PassThroughRequest;

constexpr std::uint32_t kCommandWrapperSignature = 0x43425355; // "USBC"
constexpr std::uint32_t kStatusWrapperSignature = 0x53425355;  // "USBS"
constexpr std::size_t kCommandWrapperBytes = 31;
constexpr std::size_t kStatusWrapperBytes = 13;
constexpr std::uint8_t kWrapperDataIn = 0x80;
constexpr std::uint8_t kMaxCommandBlockBytes = 16;
// The most a command may move: READ(10) and WRITE(10) count at most 65,535 sectors.
constexpr std::uint32_t kMaxDataBytes = 0xFFFF * sim::kSectorBytes;

constexpr std::uint8_t kCommandPassed = 0;
constexpr std::uint8_t kCommandFailed = 1;

std::array<std::uint8_t, 18> fixedSense(std::uint8_t key, std::uint8_t asc) {
  std::array<std::uint8_t, 18> sense{};
  sense[0] = sim::kSenseResponseCode;
  sense[2] = key;
  sense[7] = sim::kSenseAdditionalLength;
  sense[12] = asc;
  return sense;
}

Transfer stall() { return {TransferStatus::Stall, {}}; }
Transfer done(std::vector<std::uint8_t> data = {}) {
  return {TransferStatus::Done, std::move(data)};
}

bool isBulkEndpoint(std::uint16_t endpoint) {
  return endpoint == kBulkInEndpoint || endpoint == kBulkOutEndpoint;
}

} // namespace

MassStorageDevice::MassStorageDevice(sim::Farm& farm, const sim::ReaderPlan& reader,
                                     std::uint64_t generation, Speed speed)
    : farm_(farm), reader_(reader), generation_(generation), speed_(speed) {
  sense_.fill(fixedSense(sim::kKeyNoSense, 0));
}

Transfer MassStorageDevice::control(const SetupPacket& setup) {
  const std::uint8_t type = (setup.requestType >> 5) & 0x03;
  Transfer reply = type == kStandardType ? standardRequest(setup)
                   : type == kClassType  ? classRequest(setup)
                                         : stall();
  if (reply.data.size() > setup.length) reply.data.resize(setup.length);
  return reply;
}

Transfer MassStorageDevice::standardRequest(const SetupPacket& setup) {
  const std::uint8_t recipient = setup.requestType & 0x1F;
  switch (setup.request) {
  case kGetDescriptor: {
    auto bytes = descriptor(reader_, speed_, setup.value);
    return bytes ? done(std::move(*bytes)) : stall();
  }
  case kGetStatus:
    if (recipient == kRecipientEndpoint) {
      if (!isBulkEndpoint(setup.index) && setup.index != 0) return stall();
      const bool halted =
          isBulkEndpoint(setup.index) && halt(static_cast<std::uint8_t>(setup.index));
      return done({static_cast<std::uint8_t>(halted ? 1 : 0), 0});
    }
    return done({0, 0}); // bus powered, no remote wake-up
  case kClearFeature:
  case kSetFeature:
    if (recipient != kRecipientEndpoint) return done(); // remote wake-up: nothing to wake
    if (setup.value != kEndpointHalt || !isBulkEndpoint(setup.index)) return stall();
    halt(static_cast<std::uint8_t>(setup.index)) = setup.request == kSetFeature;
    return done();
  case kSetAddress: return done();
  case kGetConfiguration: return done({configuration_});
  case kSetConfiguration:
    if (setup.value != 0 && setup.value != kConfigurationValue) return stall();
    configuration_ = static_cast<std::uint8_t>(setup.value);
    reset();
    return done();
  case kGetInterface:
    return recipient == kRecipientInterface && setup.index == kInterfaceNumber ? done({0})
                                                                               : stall();
  case kSetInterface:
    if (setup.index != kInterfaceNumber || setup.value != 0) return stall();
    reset();
    return done();
  default: return stall();
  }
}

Transfer MassStorageDevice::classRequest(const SetupPacket& setup) {
  if ((setup.requestType & 0x1F) != kRecipientInterface || setup.index != kInterfaceNumber)
    return stall();
  switch (setup.request) {
  case kGetMaxLun:
    if (setup.length == 0) return stall();
    return done({static_cast<std::uint8_t>(reader_.model.lunCount - 1)});
  case kBulkOnlyReset:
    // Ready for the next command; the host clears the halts itself afterwards.
    phase_ = Phase::Command;
    data_.clear();
    return done();
  default: return stall();
  }
}

void MassStorageDevice::reset() {
  phase_ = Phase::Command;
  inHalted_ = false;
  outHalted_ = false;
  data_.clear();
}

Transfer MassStorageDevice::bulkOut(std::span<const std::uint8_t> data) {
  if (outHalted_ || phase_ == Phase::NeedsReset) return stall();
  switch (phase_) {
  case Phase::Command: takeCommand(data); return done();
  case Phase::DataOut: {
    const std::size_t take = std::min(data.size(), data_.size() - moved_);
    std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take),
              data_.begin() + static_cast<std::ptrdiff_t>(moved_));
    moved_ += take;
    if (moved_ == data_.size()) execute();
    return done();
  }
  default:
    // Data the device does not expect now: the host is out of step.
    outHalted_ = true;
    return stall();
  }
}

void MassStorageDevice::takeCommand(std::span<const std::uint8_t> wrapper) {
  const bool framed = wrapper.size() == kCommandWrapperBytes &&
                      platform::littleEndian(wrapper.data(), 4) == kCommandWrapperSignature;
  const std::uint8_t blockBytes = framed ? wrapper[14] : 0;
  const auto dataBytes =
      framed ? static_cast<std::uint32_t>(platform::littleEndian(&wrapper[8], 4)) : 0;
  if (!framed || blockBytes == 0 || blockBytes > kMaxCommandBlockBytes ||
      dataBytes > kMaxDataBytes) {
    // Not a command wrapper: both endpoints stall until the host's reset recovery.
    phase_ = Phase::NeedsReset;
    inHalted_ = true;
    outHalted_ = true;
    return;
  }
  tag_ = static_cast<std::uint32_t>(platform::littleEndian(&wrapper[4], 4));
  dataIn_ = (wrapper[12] & kWrapperDataIn) != 0;
  lun_ = wrapper[13] & 0x0F;
  commandBlock_.fill(0);
  std::copy(wrapper.begin() + 15, wrapper.begin() + 15 + blockBytes, commandBlock_.begin());
  data_.assign(dataBytes, 0);
  moved_ = 0;
  if (!dataIn_ && dataBytes > 0) {
    phase_ = Phase::DataOut;
    return;
  }
  execute();
}

void MassStorageDevice::execute() {
  moved_ = 0;
  residue_ = 0;
  commandStatus_ = kCommandPassed;
  if (commandBlock_[0] == sim::kRequestSenseOpcode && lun_ < reader_.model.lunCount) {
    answerRequestSense(lun_);
    return;
  }
  PassThroughRequest request;
  std::copy(commandBlock_.begin(), commandBlock_.end(), request.commandBlock.begin());
  request.direction = dataIn_ ? DataDirection::In : DataDirection::Out;
  request.dataLength = static_cast<std::uint32_t>(data_.size());
  request.data = data_.empty() ? nullptr : data_.data();
  request.senseLength = platform::kSenseAreaLength;
  const bool unitExists = lun_ < reader_.model.lunCount;
  if (unitExists && farm_.sendToUnit(reader_.id, generation_, lun_, request)) {
    sense_[lun_] = fixedSense(sim::kKeyNoSense, 0);
    phase_ = dataIn_ && !data_.empty() ? Phase::DataIn : Phase::Status;
    return;
  }
  if (unitExists && request.errorCode == ENODEV) {
    gone_ = true;
    phase_ = Phase::Hung;
    return;
  }
  if (unitExists && request.errorCode == ETIMEDOUT) {
    // A hang: no data and no status, until the host gives up and resets the transport.
    phase_ = Phase::Hung;
    return;
  }
  if (!unitExists) {
    sense_[lun_] = fixedSense(sim::kKeyIllegalRequest, sim::kAscLunNotSupported);
  } else if (request.senseKey != 0) {
    std::copy(request.sense.begin(), request.sense.begin() + sim::kFixedSenseBytes,
              sense_[lun_].begin());
  } else {
    // A failure that carries no sense of its own (an image that cannot be read, a "fail" fault)
    // is the card's: a medium error. Not a hardware error, which the kernel retries for USB
    // disks until the command's time runs out.
    sense_[lun_] = fixedSense(sim::kKeyMediumError,
                              dataIn_ ? sim::kAscUnrecoveredReadError : sim::kAscWriteError);
  }
  commandStatus_ = kCommandFailed;
  residue_ = static_cast<std::uint32_t>(data_.size());
  // Nothing to send: the halt tells the host to fetch the status at once.
  if (dataIn_ && !data_.empty()) inHalted_ = true;
  phase_ = Phase::Status;
}

void MassStorageDevice::answerRequestSense(unsigned lun) {
  const std::size_t length = std::min(data_.size(), sense_[lun].size());
  std::copy(sense_[lun].begin(), sense_[lun].begin() + static_cast<std::ptrdiff_t>(length),
            data_.begin());
  sense_[lun] = fixedSense(sim::kKeyNoSense, 0);
  phase_ = data_.empty() ? Phase::Status : Phase::DataIn;
}

std::vector<std::uint8_t> MassStorageDevice::statusWrapper() const {
  std::vector<std::uint8_t> wrapper(kStatusWrapperBytes, 0);
  platform::putLittleEndian(&wrapper[0], kStatusWrapperSignature, 4);
  platform::putLittleEndian(&wrapper[4], tag_, 4);
  platform::putLittleEndian(&wrapper[8], residue_, 4);
  wrapper[12] = commandStatus_;
  return wrapper;
}

void MassStorageDevice::queueIn(std::uint64_t id, std::uint32_t length) {
  pendingIns_.push_back({id, length});
}

bool MassStorageDevice::cancelIn(std::uint64_t id) {
  const auto found = std::find_if(pendingIns_.begin(), pendingIns_.end(),
                                  [id](const PendingIn& in) { return in.id == id; });
  if (found == pendingIns_.end()) return false;
  pendingIns_.erase(found);
  return true;
}

std::vector<InReply> MassStorageDevice::answerableIns() {
  std::vector<InReply> replies;
  while (!pendingIns_.empty()) {
    const PendingIn in = pendingIns_.front();
    if (inHalted_ || phase_ == Phase::NeedsReset) {
      replies.push_back({in.id, stall()});
    } else if (phase_ == Phase::DataIn) {
      const std::size_t length = std::min<std::size_t>(in.length, data_.size() - moved_);
      const auto from = data_.begin() + static_cast<std::ptrdiff_t>(moved_);
      replies.push_back({in.id, done({from, from + static_cast<std::ptrdiff_t>(length)})});
      moved_ += length;
      if (moved_ == data_.size()) phase_ = Phase::Status;
    } else if (phase_ == Phase::Status) {
      replies.push_back({in.id, done(statusWrapper())});
      phase_ = Phase::Command;
    } else {
      break; // waiting for a command, its data, or for ever
    }
    pendingIns_.pop_front();
  }
  return replies;
}

} // namespace tarvix::farm_usb
