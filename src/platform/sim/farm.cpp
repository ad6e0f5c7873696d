#include "platform/sim/farm.h"

#include "platform/byte_order.h"
#include "platform/files/label_codec.h"
#include "platform/sim/bandwidth.h"
#include "platform/sim/default_farm.h"
#include "platform/sim/farm_file.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <system_error>
#include <thread>

namespace tarvix::platform::sim {
namespace {

constexpr int kLetters = 26;
constexpr int kFirstFreeLetter = 3;             // D: A and B are floppies, C the system disk
constexpr int kSystemDiskLetter = 2;            // C
constexpr std::uint32_t kFirstDeviceNumber = 1; // 0 is the system disk
constexpr std::string_view kDeviceKeyPrefix = "sim/";
constexpr VolumeGeometry kCardGeometry{kSectorBytes, 63, 255};

int letterIndex(std::string_view driveName) {
  if (driveName.size() != 2 || driveName[1] != ':') return -1;
  char letter = driveName[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  return letter >= 'A' && letter <= 'Z' ? letter - 'A' : -1;
}

// The byte a "corrupt" fault changes: the first of a short reply (an identity or a capacity),
// otherwise one in the middle, where a card information block or a test pattern lies.
std::size_t corruptedByte(std::uint32_t length) { return length <= 16 ? 0 : length / 2; }

} // namespace

struct Farm::Impl {
  struct Slot {
    std::unique_ptr<EmulatedReader> reader;
    bool plugged = false;
    std::uint64_t generation = 0;
    std::array<char, 2> letters{};
    std::array<std::uint32_t, 2> deviceNumbers{};
    Link readLink;
    Link writeLink;
    std::vector<Link*> upstream; // hubs outward, then the host controller
    std::vector<int> walkKey;    // controller, then ports from the root: the order of a walk
  };
  struct Handle {
    std::size_t slot;
    unsigned lun;
    std::uint64_t generation;
  };
  // A handle or volume's view of a unit: stable while the farm lives.
  struct Unit {
    std::size_t slot = 0;
    unsigned lun = 0;
    std::uint64_t generation = 0;
    EmulatedReader* reader = nullptr;
  };

  class FarmDrives;
  class FarmTree;
  class FarmAccess;
  class FarmVolumes;
  class FarmVolume;

  explicit Impl(FarmPlan farmPlan);
  ~Impl();

  std::optional<Unit> unitAt(int letter) const;
  std::optional<std::size_t> find(std::string_view id) const;
  bool plug(std::string_view id);
  bool pull(std::string_view id);
  void plugLocked(Slot& slot);
  void deliver(DeviceEvent event);
  void throttle(const Slot& slot, bool write, std::uint64_t bytes);
  // How a hang shows: a handle's send waits out the request's time-out; a USB device returns at
  // once and leaves its host waiting for the reply that never comes.
  enum class Hang : std::uint8_t { WaitOut, ReturnAtOnce };
  // Faults, the emulator and the bandwidth model for one request on one unit.
  bool carryOut(const Handle& unit, PassThroughRequest& request, Hang hang);
  UsbPort hubPort(int hub) const;
  UsbPort devicePort(const Slot& slot) const;
  UsbPort* portOf(UsbPort& parent, const HubPlan& hub, int port) const;
  void runEvents();

  FarmPlan plan;
  ScaledClock clock;
  Bandwidth bandwidth;
  std::deque<Link> hubLinks; // deques: links are pointed at and never move
  std::deque<Link> controllerLinks;

  mutable std::mutex mutex; // guards everything below it; taken before any reader's lock
  std::vector<Slot> slots;
  std::array<int, kLetters> letterOwner{}; // slot * 2 + lun + 1; 0 when free
  std::uint32_t nextDeviceNumber = kFirstDeviceNumber;
  std::map<ReaderHandle, Handle> handles;
  ReaderHandle nextHandle = 1;

  // Held while the listener runs, so replacing it waits for a call in flight; recursive so the
  // listener may plug and pull (but not replace itself).
  std::recursive_mutex listenerMutex;
  std::function<void(DeviceEvent)> listener;

  std::mutex eventMutex;
  std::condition_variable eventWake;
  bool stopping = false;
  std::thread eventThread;

  std::unique_ptr<FarmDrives> drives;
  std::unique_ptr<FarmTree> tree;
  std::unique_ptr<FarmAccess> access;
  std::unique_ptr<FarmVolumes> volumes;
};

class Farm::Impl::FarmDrives final : public Drives {
public:
  explicit FarmDrives(Impl& farm) : farm_(farm) {}
  std::uint32_t logicalDriveMask() const override {
    std::lock_guard lock(farm_.mutex);
    std::uint32_t mask = 1u << kSystemDiskLetter;
    for (int i = 0; i < kLetters; ++i)
      if (farm_.letterOwner[i] != 0) mask |= 1u << i;
    return mask;
  }
  std::optional<DriveInfo> inspect(char letter) const override {
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return std::nullopt;
    std::lock_guard lock(farm_.mutex);
    const int owner = farm_.letterOwner[letter - 'A'];
    if (owner == 0) return std::nullopt; // C is no USB device: nothing ties it to the tree
    const Slot& slot = farm_.slots[static_cast<std::size_t>((owner - 1) / 2)];
    const unsigned lun = static_cast<unsigned>((owner - 1) % 2);
    const bool cdRom = slot.reader->lunKind(lun) == LunKind::CdRom;
    return DriveInfo{slot.deviceNumbers[lun], cdRom ? DriveType::CdRom : DriveType::Removable,
                     std::string(kDeviceKeyPrefix) + slot.reader->plan().id};
  }
  void setEventListener(std::function<void(DeviceEvent)> onEvent) override {
    std::lock_guard lock(farm_.listenerMutex);
    farm_.listener = std::move(onEvent);
  }

private:
  Impl& farm_;
};

class Farm::Impl::FarmTree final : public UsbTree {
public:
  explicit FarmTree(Impl& farm) : farm_(farm) {}
  UsbTopology snapshot() const override {
    std::lock_guard lock(farm_.mutex);
    UsbTopology topology;
    for (std::size_t c = 0; c < farm_.plan.controllers.size(); ++c) {
      HostController controller;
      controller.index = static_cast<int>(c);
      controller.rootPorts.resize(static_cast<std::size_t>(farm_.plan.controllers[c].rootPorts));
      for (std::size_t h = 0; h < farm_.plan.hubs.size(); ++h) {
        const Position& at = farm_.plan.hubs[h].at;
        if (at.controller == static_cast<int>(c) && at.hub < 0)
          controller.rootPorts[static_cast<std::size_t>(at.port - 1)] =
              farm_.hubPort(static_cast<int>(h));
      }
      for (const Slot& slot : farm_.slots) {
        const Position& at = slot.reader->plan().at;
        if (slot.plugged && at.controller == static_cast<int>(c) && at.hub < 0)
          controller.rootPorts[static_cast<std::size_t>(at.port - 1)] = farm_.devicePort(slot);
      }
      topology.controllers.push_back(std::move(controller));
    }
    return topology;
  }

private:
  Impl& farm_;
};

class Farm::Impl::FarmVolume final : public Volume {
public:
  FarmVolume(Impl& farm, Unit unit, VolumePlace place) : farm_(farm), unit_(unit), place_(place) {}
  ~FarmVolume() override { unit_.reader->closeVolume(unit_.generation, unit_.lun, place_); }
  FarmVolume(const FarmVolume&) = delete;
  FarmVolume& operator=(const FarmVolume&) = delete;

  bool geometry(VolumeGeometry& out) override {
    DiskExtent extent;
    if (!unit_.reader->diskExtent(unit_.generation, unit_.lun, extent, lastError_)) return false;
    out = kCardGeometry;
    return true;
  }
  bool hiddenSectors(std::uint32_t& out) override {
    DiskExtent extent;
    if (!unit_.reader->diskExtent(unit_.generation, unit_.lun, extent, lastError_)) return false;
    out = place_.firstSector;
    return true;
  }
  bool setPartitionType(std::uint8_t type) override {
    return unit_.reader->setPartitionType(unit_.generation, unit_.lun, place_, type, lastError_);
  }
  bool dropPartitionLayout() override {
    return unit_.reader->dropPartitionLayout(unit_.generation, unit_.lun, lastError_);
  }
  bool dismount() override {
    DiskExtent extent; // nothing is ever mounted; a pulled reader still refuses
    return unit_.reader->diskExtent(unit_.generation, unit_.lun, extent, lastError_);
  }
  bool writeAt(std::uint64_t byteOffset, std::span<const std::uint8_t> data) override {
    EmulatedReader& reader = *unit_.reader;
    switch (reader.takeFault(kVolumeWriteName)) {
    case FaultVerdict::None: break;
    case FaultVerdict::Pull:
      farm_.pull(reader.plan().id);
      lastError_ = ENODEV;
      return false;
    default: lastError_ = EIO; return false;
    }
    if (!reader.writeVolume(unit_.generation, unit_.lun, place_, byteOffset, data, lastError_))
      return false;
    reader.noteSuccess(kVolumeWriteName);
    farm_.throttle(farm_.slots[unit_.slot], true, data.size());
    return true;
  }
  int lastError() const override { return lastError_; }
  std::string labelBytes(std::string_view label) const override {
    return files::localeLabelBytes(label);
  }

private:
  Impl& farm_;
  Unit unit_;
  VolumePlace place_;
  int lastError_ = 0;
};

class Farm::Impl::FarmVolumes final : public Volumes {
public:
  explicit FarmVolumes(Impl& farm) : farm_(farm) {}
  std::unique_ptr<Volume> open(std::string_view driveName) override {
    const std::optional<Unit> unit = farm_.unitAt(letterIndex(driveName));
    if (!unit) return nullptr;
    VolumePlace place;
    int error = 0;
    // A CD-ROM unit or an empty slot has no volume to format.
    if (!unit->reader->openVolume(unit->generation, unit->lun, place, error)) return nullptr;
    return std::make_unique<FarmVolume>(farm_, *unit, place);
  }

  bool rereadPartitionLayout(std::string_view driveName) override {
    const std::optional<Unit> unit = farm_.unitAt(letterIndex(driveName));
    int error = 0;
    return unit && unit->reader->rereadPartitionLayout(unit->generation, unit->lun, error);
  }

  std::optional<std::string> copyTarget(std::string_view driveName) const override {
    const std::optional<Unit> unit = farm_.unitAt(letterIndex(driveName));
    if (!unit) return std::nullopt;
    DiskExtent extent;
    int error = 0;
    if (!unit->reader->diskExtent(unit->generation, unit->lun, extent, error)) return std::nullopt;
    const std::uint64_t offset = extent.firstByte + std::uint64_t{extent.hiddenSectors} * 512;
    return extent.image.string() + "@@" + std::to_string(offset);
  }

private:
  Impl& farm_;
};

class Farm::Impl::FarmAccess final : public ReaderAccess {
public:
  explicit FarmAccess(Impl& farm) : farm_(farm) {}

  ReaderHandle open(std::string_view driveName) override {
    const std::optional<Unit> unit = farm_.unitAt(letterIndex(driveName));
    if (!unit) return kNoReader;
    EmulatedReader& reader = *unit->reader;
    if (reader.openMustFail()) return kNoReader;
    switch (reader.takeFault(kOpenName)) {
    case FaultVerdict::Pull: farm_.pull(reader.plan().id); return kNoReader;
    case FaultVerdict::None: break;
    default: return kNoReader;
    }
    reader.noteSuccess(kOpenName);
    std::lock_guard lock(farm_.mutex);
    const ReaderHandle handle = farm_.nextHandle++;
    farm_.handles.emplace(handle, Handle{unit->slot, unit->lun, unit->generation});
    return handle;
  }

  bool send(ReaderHandle handle, PassThroughRequest& request) override {
    Handle entry{};
    {
      std::lock_guard lock(farm_.mutex);
      const auto found = farm_.handles.find(handle);
      if (found == farm_.handles.end()) {
        request.errorCode = EBADF;
        return false;
      }
      entry = found->second;
    }
    return farm_.carryOut(entry, request, Hang::WaitOut);
  }

  void close(ReaderHandle handle) override {
    std::lock_guard lock(farm_.mutex);
    farm_.handles.erase(handle);
  }

private:
  Impl& farm_;
};

Farm::Impl::Impl(FarmPlan farmPlan)
    : plan(std::move(farmPlan)), clock(plan.timeScale), bandwidth(plan.timeScale) {
  for (const ControllerPlan& controller : plan.controllers)
    controllerLinks.emplace_back(controller.mbps);
  for (const HubPlan& hub : plan.hubs)
    hubLinks.emplace_back(hub.mbps);
  drives = std::make_unique<FarmDrives>(*this);
  tree = std::make_unique<FarmTree>(*this);
  access = std::make_unique<FarmAccess>(*this);
  volumes = std::make_unique<FarmVolumes>(*this);
}

Farm::Impl::~Impl() {
  {
    std::lock_guard lock(eventMutex);
    stopping = true;
  }
  eventWake.notify_all();
  if (eventThread.joinable()) eventThread.join();
}

std::optional<Farm::Impl::Unit> Farm::Impl::unitAt(int letter) const {
  if (letter < 0 || letter >= kLetters) return std::nullopt;
  std::lock_guard lock(mutex);
  const int owner = letterOwner[static_cast<std::size_t>(letter)];
  if (owner == 0) return std::nullopt;
  const auto index = static_cast<std::size_t>((owner - 1) / 2);
  const Slot& slot = slots[index];
  const auto lun = static_cast<unsigned>((owner - 1) % 2);
  return Unit{index, lun, slot.generation, slot.reader.get()};
}

std::optional<std::size_t> Farm::Impl::find(std::string_view id) const {
  for (std::size_t i = 0; i < slots.size(); ++i)
    if (slots[i].reader->plan().id == id) return i;
  return std::nullopt;
}

void Farm::Impl::plugLocked(Slot& slot) {
  slot.generation = slot.reader->plugIn();
  slot.plugged = true;
  const std::size_t index = static_cast<std::size_t>(&slot - slots.data());
  const ReaderPlan& readerPlan = slot.reader->plan();
  for (unsigned lun = 0; lun < slot.reader->lunCount(); ++lun) {
    slot.letters[lun] = 0;
    for (int letter = kFirstFreeLetter; letter < kLetters; ++letter) {
      if (letterOwner[static_cast<std::size_t>(letter)] != 0) continue;
      letterOwner[static_cast<std::size_t>(letter)] = static_cast<int>(index * 2 + lun + 1);
      slot.letters[lun] = static_cast<char>('A' + letter);
      break;
    }
    const std::uint32_t next = nextDeviceNumber++;
    slot.deviceNumbers[lun] =
        readerPlan.deviceNumbers.empty() ? next : readerPlan.deviceNumbers[lun];
  }
}

bool Farm::Impl::plug(std::string_view id) {
  {
    std::lock_guard lock(mutex);
    const std::optional<std::size_t> index = find(id);
    if (!index || slots[*index].plugged) return false;
    plugLocked(slots[*index]);
  }
  deliver(DeviceEvent::Arrival);
  return true;
}

bool Farm::Impl::pull(std::string_view id) {
  {
    std::lock_guard lock(mutex);
    const std::optional<std::size_t> index = find(id);
    if (!index || !slots[*index].plugged) return false;
    Slot& slot = slots[*index];
    slot.reader->pullOut();
    slot.plugged = false;
    for (char& letter : slot.letters) {
      if (letter != 0) letterOwner[static_cast<std::size_t>(letter - 'A')] = 0;
      letter = 0;
    }
    slot.deviceNumbers = {};
  }
  deliver(DeviceEvent::Removal);
  return true;
}

void Farm::Impl::deliver(DeviceEvent event) {
  std::lock_guard lock(listenerMutex);
  if (listener) listener(event);
}

void Farm::Impl::throttle(const Slot& slot, bool write, std::uint64_t bytes) {
  std::array<Link*, kMaxHubDepth + 3> path{};
  std::size_t count = 0;
  path[count++] = const_cast<Link*>(write ? &slot.writeLink : &slot.readLink);
  for (Link* link : slot.upstream)
    path[count++] = link;
  bandwidth.pass({path.data(), count}, bytes);
}

bool Farm::Impl::carryOut(const Handle& unit, PassThroughRequest& request, Hang hang) {
  EmulatedReader& reader = *slots[unit.slot].reader;
  const Op op = commandOf(request);
  const std::string_view name =
      op == Op::Unknown ? std::string_view() : kOpNames[static_cast<std::size_t>(op)];
  // The last sector a READ(10) or WRITE(10) reaches: the kernel writes whole pages, so a write
  // that reaches failing sectors may start before them.
  const std::uint8_t* block = request.commandBlock.data();
  const std::uint64_t lastSector =
      op == Op::ReadSector || op == Op::WriteSector
          ? bigEndian32(block + 2) + std::max<std::uint64_t>(bigEndian16(block + 7), 1) - 1
          : 0;
  const FaultVerdict fault = name.empty() ? FaultVerdict::None : reader.takeFault(name, lastSector);
  request.senseKey = 0;
  if (fault != FaultVerdict::None && fault != FaultVerdict::Corrupt) {
    if (!reader.pluggedAs(unit.generation)) {
      request.errorCode = ENODEV;
      return false;
    }
    if (fault == FaultVerdict::Pull) {
      pull(reader.plan().id);
      request.errorCode = ENODEV;
    } else if (fault == FaultVerdict::Hang) {
      if (hang == Hang::WaitOut) clock.sleepMs(request.timeoutSeconds * 1000);
      request.errorCode = ETIMEDOUT;
    } else if (fault == FaultVerdict::UnitAttention) {
      checkCondition(request, kKeyUnitAttention, kAscPowerOnOrReset);
    } else {
      request.errorCode = EIO;
    }
    return false;
  }
  if (!reader.execute(unit.generation, unit.lun, request)) return false;
  reader.noteSuccess(name);
  if (fault == FaultVerdict::Corrupt && request.direction == DataDirection::In &&
      request.dataLength > 0)
    request.data[corruptedByte(request.dataLength)] ^= 0xFF;
  throttle(slots[unit.slot], request.direction == DataDirection::Out, request.dataLength);
  return true;
}

UsbPort* Farm::Impl::portOf(UsbPort& parent, const HubPlan& hub, int port) const {
  if (hub.chips == 2 && port > kOuterChipOwnPorts)
    return &parent.ports[kOuterChipPorts - 1].ports[static_cast<std::size_t>(port - 4)];
  return &parent.ports[static_cast<std::size_t>(port - 1)];
}

UsbPort Farm::Impl::hubPort(int hub) const {
  const HubPlan& hubPlan = plan.hubs[static_cast<std::size_t>(hub)];
  UsbPort port;
  port.attached = UsbPort::Attached::Hub;
  if (hubPlan.chips == 2) {
    port.ports.resize(kOuterChipPorts);
    UsbPort& inner = port.ports[kOuterChipPorts - 1];
    inner.attached = UsbPort::Attached::Hub;
    inner.ports.resize(kChainedHubPorts - kOuterChipOwnPorts);
  } else {
    port.ports.resize(static_cast<std::size_t>(hubPlan.ports));
  }
  for (std::size_t h = 0; h < plan.hubs.size(); ++h)
    if (plan.hubs[h].at.hub == hub)
      *portOf(port, hubPlan, plan.hubs[h].at.port) = hubPort(static_cast<int>(h));
  for (const Slot& slot : slots) {
    const Position& at = slot.reader->plan().at;
    if (slot.plugged && at.hub == hub) *portOf(port, hubPlan, at.port) = devicePort(slot);
  }
  return port;
}

UsbPort Farm::Impl::devicePort(const Slot& slot) const {
  UsbPort port;
  port.attached = UsbPort::Attached::Device;
  port.deviceKey = std::string(kDeviceKeyPrefix) + slot.reader->plan().id;
  port.firstVolumeLetter = slot.letters[0];
  return port;
}

void Farm::Impl::runEvents() {
  const std::uint64_t origin = clock.tickMs();
  for (const EventPlan& event : plan.events) {
    std::unique_lock lock(eventMutex);
    for (;;) {
      const std::uint64_t now = clock.tickMs();
      if (stopping) return;
      if (now >= origin + event.atMs) break;
      const auto left = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(origin + event.atMs - now, 0xFFFFFFFFu));
      eventWake.wait_for(lock, clock.realDuration(left));
    }
    lock.unlock();
    if (event.plug)
      plug(event.readerId);
    else
      pull(event.readerId);
  }
}

Farm::Farm(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Farm::~Farm() = default;

std::unique_ptr<Farm> Farm::fromText(std::string_view json, std::string_view sourceName,
                                     const std::filesystem::path& baseDir, std::string& error) {
  std::optional<FarmPlan> plan = parseFarm(json, sourceName, baseDir, error);
  if (!plan) return nullptr;
  const auto refuse = [&](const std::string& where, const std::string& what) {
    error = std::string(sourceName) + ": " + where + ": " + what;
    return nullptr;
  };
  // Every existing image is checked before anything is created, so a refused farm leaves the
  // image folder as it found it.
  for (const ReaderPlan& reader : plan->readers) {
    std::string why;
    if (!EmulatedReader::imagesFit(reader, plan->imageDir, why))
      return refuse(reader.jsonPath, why);
  }
  std::error_code made;
  std::filesystem::create_directories(plan->imageDir, made);
  if (made) return refuse("$.imageDir", plan->imageDir.string() + ": " + made.message());

  auto impl = std::make_unique<Impl>(std::move(*plan));
  impl->slots.resize(impl->plan.readers.size());
  for (std::size_t i = 0; i < impl->plan.readers.size(); ++i) {
    const ReaderPlan& readerPlan = impl->plan.readers[i];
    std::string why;
    Impl::Slot& slot = impl->slots[i];
    slot.reader = EmulatedReader::create(readerPlan, impl->plan.imageDir, why);
    if (!slot.reader) return refuse(readerPlan.jsonPath, why);
    slot.readLink = Link(readerPlan.readMBps);
    slot.writeLink = Link(readerPlan.writeMBps);
    std::vector<int> ports{readerPlan.at.port};
    for (int hub = readerPlan.at.hub; hub >= 0;) {
      const HubPlan& hubPlan = impl->plan.hubs[static_cast<std::size_t>(hub)];
      slot.upstream.push_back(&impl->hubLinks[static_cast<std::size_t>(hub)]);
      ports.insert(ports.begin(), hubPlan.at.port);
      hub = hubPlan.at.hub;
    }
    slot.upstream.push_back(
        &impl->controllerLinks[static_cast<std::size_t>(readerPlan.at.controller)]);
    slot.walkKey = {readerPlan.at.controller};
    slot.walkKey.insert(slot.walkKey.end(), ports.begin(), ports.end());
  }
  // At start-up the system meets the readers in the order of a walk of the tree.
  std::vector<Impl::Slot*> order;
  for (Impl::Slot& slot : impl->slots)
    if (slot.reader->plan().pluggedAtStart) order.push_back(&slot);
  std::sort(order.begin(), order.end(),
            [](const Impl::Slot* a, const Impl::Slot* b) { return a->walkKey < b->walkKey; });
  for (Impl::Slot* slot : order)
    impl->plugLocked(*slot);
  return std::unique_ptr<Farm>(new Farm(std::move(impl)));
}

std::unique_ptr<Farm> Farm::load(const std::filesystem::path& farmFile, std::string& error) {
  std::ifstream in(farmFile, std::ios::binary);
  std::stringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) {
    error = farmFile.string() + ": cannot be read";
    return nullptr;
  }
  return fromText(content.str(), farmFile.string(),
                  std::filesystem::absolute(farmFile).parent_path(), error);
}

std::unique_ptr<Farm> Farm::loadDefault(std::string& error, const std::filesystem::path& cacheDir) {
  const std::filesystem::path base = cacheDir.empty() ? userCacheDir() : cacheDir;
  if (base.empty()) {
    error = std::string(kDefaultFarmName) + ": no cache folder (neither XDG_CACHE_HOME nor HOME "
                                            "is set)";
    return nullptr;
  }
  return fromText(kDefaultFarmJson, kDefaultFarmName, base, error);
}

Clock& Farm::clock() { return impl_->clock; }
Drives& Farm::drives() { return *impl_->drives; }
UsbTree& Farm::usbTree() { return *impl_->tree; }
ReaderAccess& Farm::readerAccess() { return *impl_->access; }
Volumes& Farm::volumes() { return *impl_->volumes; }
bool Farm::plug(std::string_view readerId) { return impl_->plug(readerId); }

std::uint64_t Farm::plugGeneration(std::string_view readerId) const {
  std::lock_guard lock(impl_->mutex);
  const std::optional<std::size_t> index = impl_->find(readerId);
  return index && impl_->slots[*index].plugged ? impl_->slots[*index].generation : 0;
}

bool Farm::sendToUnit(std::string_view readerId, std::uint64_t generation, unsigned lun,
                      PassThroughRequest& request) {
  Impl::Handle unit{};
  {
    std::lock_guard lock(impl_->mutex);
    const std::optional<std::size_t> index = impl_->find(readerId);
    if (!index || !impl_->slots[*index].plugged || impl_->slots[*index].generation != generation) {
      request.errorCode = ENODEV;
      return false;
    }
    if (lun >= impl_->slots[*index].reader->lunCount()) {
      request.errorCode = EINVAL;
      return false;
    }
    unit = {*index, lun, generation};
  }
  return impl_->carryOut(unit, request, Impl::Hang::ReturnAtOnce);
}

const FarmPlan& Farm::plan() const { return impl_->plan; }
bool Farm::pull(std::string_view readerId) { return impl_->pull(readerId); }

bool Farm::addFault(std::string_view readerId, const FaultPlan& fault) {
  const std::optional<std::size_t> index = impl_->find(readerId);
  if (!index) return false;
  impl_->slots[*index].reader->addFault(fault);
  return true;
}

void Farm::start() {
  std::lock_guard lock(impl_->eventMutex);
  if (impl_->eventThread.joinable() || impl_->plan.events.empty()) return;
  impl_->eventThread = std::thread([impl = impl_.get()] { impl->runEvents(); });
}

double Farm::timeScale() const { return impl_->plan.timeScale; }

std::vector<std::string> Farm::readerIds() const {
  std::vector<std::string> ids;
  for (const ReaderPlan& reader : impl_->plan.readers)
    ids.push_back(reader.id);
  return ids;
}

bool Farm::isPlugged(std::string_view readerId) const {
  std::lock_guard lock(impl_->mutex);
  const std::optional<std::size_t> index = impl_->find(readerId);
  return index && impl_->slots[*index].plugged;
}

std::vector<char> Farm::letters(std::string_view readerId) const {
  std::lock_guard lock(impl_->mutex);
  const std::optional<std::size_t> index = impl_->find(readerId);
  if (!index || !impl_->slots[*index].plugged) return {};
  const Impl::Slot& slot = impl_->slots[*index];
  return {slot.letters.begin(), slot.letters.begin() + slot.reader->lunCount()};
}

std::vector<std::uint32_t> Farm::deviceNumbers(std::string_view readerId) const {
  std::lock_guard lock(impl_->mutex);
  const std::optional<std::size_t> index = impl_->find(readerId);
  if (!index || !impl_->slots[*index].plugged) return {};
  const Impl::Slot& slot = impl_->slots[*index];
  return {slot.deviceNumbers.begin(), slot.deviceNumbers.begin() + slot.reader->lunCount()};
}

std::filesystem::path Farm::cardImagePath(std::string_view readerId, unsigned slot) const {
  const std::optional<std::size_t> index = impl_->find(readerId);
  return index ? impl_->slots[*index].reader->cardImagePath(slot) : std::filesystem::path();
}

std::filesystem::path Farm::eepromPath(std::string_view readerId) const {
  const std::optional<std::size_t> index = impl_->find(readerId);
  return index ? impl_->slots[*index].reader->eepromPath() : std::filesystem::path();
}

std::vector<std::uint8_t> Farm::eepromBytes(std::string_view readerId) const {
  const std::optional<std::size_t> index = impl_->find(readerId);
  return index ? impl_->slots[*index].reader->eeprom() : std::vector<std::uint8_t>();
}

std::optional<CardLayout> Farm::layout(std::string_view readerId) const {
  const std::optional<std::size_t> index = impl_->find(readerId);
  if (!index) return std::nullopt;
  return impl_->slots[*index].reader->layout();
}

std::optional<DiskExtent> Farm::publicDisk(char letter) const {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  const std::optional<Impl::Unit> unit = impl_->unitAt(letter - 'A');
  if (!unit) return std::nullopt;
  DiskExtent extent;
  int error = 0;
  if (!unit->reader->diskExtent(unit->generation, unit->lun, extent, error)) return std::nullopt;
  return extent;
}

} // namespace tarvix::platform::sim
