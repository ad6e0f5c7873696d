#include "platform/sim/farm_file.h"
#include "platform/byte_order.h"

#include "platform/reader_access.h"
#include "platform/sim/wire.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <set>
#include <span>
#include <sstream>

namespace tarvix::platform::sim {
namespace {

using nlohmann::json;

// Carries the first complaint out of the nested readers; caught in parseFarm, never further.
struct Refusal {
  std::string path;
  std::string what;
};

[[noreturn]] void refuse(const std::string& path, std::string what) {
  throw Refusal{path, std::move(what)};
}

std::string member(const std::string& path, std::string_view key) {
  return path + "." + std::string(key);
}
std::string element(const std::string& path, std::size_t index) {
  return path + "[" + std::to_string(index) + "]";
}

const json& object(const json& value, const std::string& path,
                   std::span<const std::string_view> allowed) {
  if (!value.is_object()) refuse(path, "must be an object");
  for (const auto& [key, unused] : value.items()) {
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end())
      refuse(member(path, key), "is not a known key");
  }
  return value;
}

const json& object(const json& value, const std::string& path,
                   std::initializer_list<std::string_view> allowed) {
  return object(value, path, std::span(allowed.begin(), allowed.size()));
}

const json& array(const json& value, const std::string& path) {
  if (!value.is_array()) refuse(path, "must be an array");
  return value;
}

std::int64_t integer(const json& value, const std::string& path, std::int64_t low,
                     std::int64_t high) {
  if (!value.is_number_integer()) refuse(path, "must be a whole number");
  const std::int64_t number = value.is_number_unsigned()
                                  ? static_cast<std::int64_t>(std::min<std::uint64_t>(
                                        value.get<std::uint64_t>(), INT64_MAX))
                                  : value.get<std::int64_t>();
  if (number < low || number > high)
    refuse(path, "must be between " + std::to_string(low) + " and " + std::to_string(high));
  return number;
}

double positive(const json& value, const std::string& path) {
  if (!value.is_number()) refuse(path, "must be a number");
  const double number = value.get<double>();
  if (!(number > 0) || !std::isfinite(number)) refuse(path, "must be greater than 0");
  return number;
}

// A link slower than one largest transfer per command time-out makes every transfer outwait it:
// the run would stall for ever instead of failing.
constexpr double kMinMBps = double{kMaxTransferBytes} / PassThroughRequest{}.timeoutSeconds / 1e6;

double rate(const json& value, const std::string& path) {
  const double number = positive(value, path);
  if (!(number > kMinMBps)) {
    std::ostringstream floor;
    floor << "must be greater than " << kMinMBps;
    refuse(path, floor.str());
  }
  return number;
}

std::string text(const json& value, const std::string& path) {
  if (!value.is_string()) refuse(path, "must be a string");
  return value.get<std::string>();
}

bool flag(const json& value, const std::string& path) {
  if (!value.is_boolean()) refuse(path, "must be true or false");
  return value.get<bool>();
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex bytes; spaces between bytes are allowed for readability.
std::vector<std::uint8_t> hexBytes(const json& value, const std::string& path) {
  const std::string digits = text(value, path);
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : digits) {
    if (c == ' ' && high < 0) continue;
    const int digit = hexDigit(c);
    if (digit < 0) refuse(path, "is not hexadecimal: \"" + digits + "\"");
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) refuse(path, "has an odd number of hex digits: \"" + digits + "\"");
  return bytes;
}

std::uint16_t hexWord(const json& value, const std::string& path) {
  const std::string digits = value.is_string() ? value.get<std::string>() : std::string();
  if (digits.size() != 4) refuse(path, "must be 4 hex digits");
  const std::vector<std::uint8_t> bytes = hexBytes(value, path);
  return static_cast<std::uint16_t>(bigEndian16(bytes.data()));
}

bool safeId(const std::string& id) {
  // The id names image files, so it must not reach outside the image folder.
  return !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
  });
}

constexpr std::uint64_t kMiBSectors = (1u << 20) / kSectorBytes;
// GetCapacity reports a 32-bit sector count; the card needs its information sector and one more.
constexpr std::uint64_t kMaxCardSectors = 0xFFFFFFFFull;
constexpr std::uint64_t kMinCardSectors = 2;

// The keys of one card, on a one-slot reader or in each entry of "cards".
constexpr std::array<std::string_view, 7> kCardKeys = {
    "cardMiB", "cardSectors", "cardType", "partitioned", "realMiB", "forgery", "dropReads"};

struct CardType {
  std::string_view name;
  std::uint8_t byte;
};
constexpr std::array<CardType, 5> kCardTypes = {{{"SD", kCardTypeSd},
                                                 {"MS", kCardTypeMs},
                                                 {"CF", kCardTypeCf},
                                                 {"xD", kCardTypeXd},
                                                 {"none", kCardTypeNone}}};

// A forged card: "realMiB" of flash behind the size it reports, "wrap" or "drop" beyond it.
void readForgery(const json& value, const std::string& path, CardPlan& card) {
  const bool hasReal = value.contains("realMiB");
  const bool hasKind = value.contains("forgery");
  if (!hasReal && !hasKind) {
    if (value.contains("dropReads"))
      refuse(member(path, "dropReads"), "needs \"forgery\": \"drop\"");
    return;
  }
  if (hasReal != hasKind)
    refuse(member(path, hasReal ? "forgery" : "realMiB"),
           "is missing: realMiB and forgery go together");
  const std::string kindPath = member(path, "forgery");
  const std::string kind = text(value["forgery"], kindPath);
  if (kind == "wrap")
    card.forgery.kind = Forgery::Kind::Wrap;
  else if (kind == "drop")
    card.forgery.kind = Forgery::Kind::Drop;
  else
    refuse(kindPath, "must be wrap or drop, not \"" + kind + "\"");
  const std::string realPath = member(path, "realMiB");
  const auto realMiB = static_cast<std::uint64_t>(
      integer(value["realMiB"], realPath, 1, kMaxCardSectors / kMiBSectors));
  // The information sector is the controller's, so the flash must end below it to be forged.
  if (realMiB * kMiBSectors >= card.sectors)
    refuse(realPath, "must be below the card's reported size");
  card.forgery.realBytes = realMiB * kMiBSectors * kSectorBytes;
  if (value.contains("dropReads")) {
    const std::string readsPath = member(path, "dropReads");
    if (card.forgery.kind != Forgery::Kind::Drop) refuse(readsPath, "applies to \"drop\" only");
    const std::string fill = text(value["dropReads"], readsPath);
    if (fill != "zero" && fill != "ff")
      refuse(readsPath, "must be zero or ff, not \"" + fill + "\"");
    card.forgery.dropFill = fill == "ff" ? 0xFF : 0x00;
  }
}

CardPlan readCard(const json& value, const std::string& path) {
  CardPlan card;
  const bool hasMiB = value.contains("cardMiB");
  const bool hasSectors = value.contains("cardSectors");
  if (hasMiB && hasSectors) refuse(member(path, "cardSectors"), "cannot be given with cardMiB");
  std::string sizePath = path;
  if (hasMiB) {
    sizePath = member(path, "cardMiB");
    card.sectors = static_cast<std::uint64_t>(
                       integer(value["cardMiB"], sizePath, 0, kMaxCardSectors / kMiBSectors)) *
                   kMiBSectors;
  } else if (hasSectors) {
    sizePath = member(path, "cardSectors");
    card.sectors = static_cast<std::uint64_t>(
        integer(value["cardSectors"], sizePath, 0, static_cast<std::int64_t>(kMaxCardSectors)));
    if (card.sectors != 0 && card.sectors < kMinCardSectors)
      refuse(sizePath, "must be 0 (no card) or at least " + std::to_string(kMinCardSectors));
  }
  bool typeGiven = false;
  bool typeNone = false;
  if (value.contains("cardType")) {
    const std::string typePath = member(path, "cardType");
    const std::string name = text(value["cardType"], typePath);
    typeGiven = true;
    const auto known = std::find_if(kCardTypes.begin(), kCardTypes.end(),
                                    [&](const CardType& t) { return t.name == name; });
    if (known != kCardTypes.end()) {
      card.typeByte = known->byte;
      typeNone = known->name == "none";
    } else if (name.size() == 2) {
      card.typeByte = hexBytes(value["cardType"], typePath)[0];
    } else {
      refuse(typePath, "must be SD, MS, CF, xD, none or one byte in hex, not \"" + name + "\"");
    }
  }
  if (typeNone && card.sectors != 0)
    refuse(member(path, "cardType"), "is \"none\" but the slot is given a card size");
  if (typeGiven && !typeNone && card.sectors == 0)
    refuse(hasMiB || hasSectors ? sizePath : member(path, "cardType"),
           "names a card type but the card has no sectors");
  if (value.contains("partitioned"))
    card.partitioned = flag(value["partitioned"], member(path, "partitioned"));
  if (card.partitioned && card.sectors == 0)
    refuse(member(path, "partitioned"), "is set but the slot holds no card");
  readForgery(value, path, card);
  return card;
}

FaultPlan readFault(const json& value, const std::string& path, ReaderPlan& reader) {
  object(value, path, {"command", "after", "fault", "times", "failFirst", "fromSector"});
  if (!value.contains("command")) refuse(member(path, "command"), "is missing");
  FaultPlan fault;
  fault.command = text(value["command"], member(path, "command"));
  const bool isOpen = fault.command == kOpenName;
  const bool isVolumeWrite = fault.command == kVolumeWriteName;
  const auto op = std::find(kOpNames.begin(), kOpNames.end(), fault.command);
  if (!isOpen && !isVolumeWrite && op == kOpNames.end())
    refuse(member(path, "command"), "names no command: \"" + fault.command + "\"");
  if (value.contains("failFirst")) {
    if (!isOpen) refuse(member(path, "failFirst"), "applies to \"open\" only");
    if (value.contains("fault") || value.contains("after") || value.contains("times"))
      refuse(member(path, "failFirst"), "cannot be combined with after, fault or times");
    reader.openFailFirst = static_cast<std::uint32_t>(
        integer(value["failFirst"], member(path, "failFirst"), 0, 1000000));
    fault.times = 0;
    fault.command.clear(); // nothing left to arm
    return fault;
  }
  if (!value.contains("fault")) refuse(member(path, "fault"), "is missing");
  const std::string action = text(value["fault"], member(path, "fault"));
  if (action == "fail")
    fault.action = FaultAction::Fail;
  else if (action == "corrupt")
    fault.action = FaultAction::Corrupt;
  else if (action == "pull")
    fault.action = FaultAction::Pull;
  else if (action == "hang")
    fault.action = FaultAction::Hang;
  else if (action == "unitAttention")
    fault.action = FaultAction::UnitAttention;
  else
    refuse(member(path, "fault"),
           "must be fail, corrupt, pull, hang or unitAttention, not \"" + action + "\"");
  const bool isCommand = op != kOpNames.end();
  if (fault.action == FaultAction::Corrupt &&
      (!isCommand || !readsData(static_cast<Op>(op - kOpNames.begin()))))
    refuse(member(path, "fault"), "\"corrupt\" needs a command that reads data");
  if (isOpen && fault.action == FaultAction::Hang)
    refuse(member(path, "fault"), "\"hang\" does not apply to open; use failFirst");
  // A volume write has no time-out of its own to wait out.
  if (isVolumeWrite && fault.action == FaultAction::Hang)
    refuse(member(path, "fault"), "\"hang\" does not apply to volumeWrite");
  if (!isCommand && fault.action == FaultAction::UnitAttention)
    refuse(member(path, "fault"), "\"unitAttention\" needs a command");
  if (value.contains("after"))
    fault.after =
        static_cast<std::uint32_t>(integer(value["after"], member(path, "after"), 0, 1000000000));
  // A pull happens once unless asked otherwise: the reader is gone after it.
  fault.times = fault.action == FaultAction::Pull ? 1 : 0;
  if (value.contains("times"))
    fault.times =
        static_cast<std::uint32_t>(integer(value["times"], member(path, "times"), 1, 1000000000));
  if (value.contains("fromSector")) {
    if (fault.command != "ReadSector" && fault.command != "WriteSector")
      refuse(member(path, "fromSector"), "applies to ReadSector and WriteSector only");
    fault.fromSector = static_cast<std::uint64_t>(
        integer(value["fromSector"], member(path, "fromSector"), 0, 0xFFFFFFFF));
  }
  return fault;
}

class FarmReader {
public:
  explicit FarmReader(FarmPlan& plan) : plan_(plan) {}

  void readRoot(const json& root, const std::filesystem::path& baseDir) {
    object(root, "$", {"imageDir", "timeScale", "busMBps", "hostControllers", "events"});
    std::filesystem::path imageDir = "farm-images";
    if (root.contains("imageDir")) {
      imageDir = text(root["imageDir"], "$.imageDir");
      if (imageDir.empty()) refuse("$.imageDir", "must not be empty");
    }
    plan_.imageDir = imageDir.is_absolute() ? imageDir : baseDir / imageDir;
    if (root.contains("timeScale")) plan_.timeScale = positive(root["timeScale"], "$.timeScale");
    double busMBps = 0;
    if (root.contains("busMBps")) busMBps = rate(root["busMBps"], "$.busMBps");
    if (!root.contains("hostControllers")) refuse("$.hostControllers", "is missing");
    const json& controllers = array(root["hostControllers"], "$.hostControllers");
    if (controllers.size() > kMaxHostControllers)
      refuse("$.hostControllers", "holds more than 10 host controllers");
    for (std::size_t c = 0; c < controllers.size(); ++c)
      readController(controllers[c], element("$.hostControllers", c), static_cast<int>(c), busMBps);
    if (root.contains("events")) {
      const json& events = array(root["events"], "$.events");
      for (std::size_t e = 0; e < events.size(); ++e)
        readEvent(events[e], element("$.events", e));
    }
  }

private:
  void readController(const json& value, const std::string& path, int index, double busMBps) {
    object(value, path, {"rootHubPorts", "MBps", "attached"});
    if (!value.contains("rootHubPorts")) refuse(member(path, "rootHubPorts"), "is missing");
    ControllerPlan controller;
    controller.rootPorts = static_cast<int>(
        integer(value["rootHubPorts"], member(path, "rootHubPorts"), 1, kMaxPortsPerHub));
    controller.mbps = value.contains("MBps") ? rate(value["MBps"], member(path, "MBps")) : busMBps;
    plan_.controllers.push_back(controller);
    if (value.contains("attached"))
      readAttached(value["attached"], member(path, "attached"), Position{index, -1, 0},
                   controller.rootPorts, 0);
  }

  void readAttached(const json& value, const std::string& path, Position parent, int ports,
                    int depth) {
    array(value, path);
    std::set<int> taken;
    for (std::size_t i = 0; i < value.size(); ++i) {
      const std::string entryPath = element(path, i);
      const json& entry = object(value[i], entryPath, {"port", "hub", "reader"});
      if (!entry.contains("port")) refuse(member(entryPath, "port"), "is missing");
      Position at = parent;
      const std::string portPath = member(entryPath, "port");
      at.port = static_cast<int>(integer(entry["port"], portPath, 1, ports));
      if (!taken.insert(at.port).second)
        refuse(portPath, "port " + std::to_string(at.port) + " is already taken");
      const bool hasHub = entry.contains("hub");
      if (hasHub == entry.contains("reader"))
        refuse(entryPath, "must hold exactly one of hub and reader");
      if (hasHub)
        readHub(entry["hub"], member(entryPath, "hub"), at, depth + 1);
      else
        readReader(entry["reader"], member(entryPath, "reader"), at);
    }
  }

  void readHub(const json& value, const std::string& path, Position at, int depth) {
    object(value, path, {"ports", "chips", "MBps", "attached"});
    if (depth > kMaxHubDepth) refuse(path, "is nested deeper than 4 hubs");
    HubPlan hub;
    hub.at = at;
    if (!value.contains("ports")) refuse(member(path, "ports"), "is missing");
    hub.ports =
        static_cast<int>(integer(value["ports"], member(path, "ports"), 1, kMaxPortsPerHub));
    if (value.contains("chips"))
      hub.chips = static_cast<int>(integer(value["chips"], member(path, "chips"), 1, 2));
    if (hub.chips == 2 && hub.ports != kChainedHubPorts)
      refuse(member(path, "ports"), "must be 7 for a hub of two chained chips");
    if (value.contains("MBps")) hub.mbps = rate(value["MBps"], member(path, "MBps"));
    const int index = static_cast<int>(plan_.hubs.size());
    plan_.hubs.push_back(hub);
    if (value.contains("attached"))
      readAttached(value["attached"], member(path, "attached"), Position{at.controller, index, 0},
                   hub.ports, depth);
  }

  void readReader(const json& value, const std::string& path, Position at) {
    object(value, path,
           {"id", "model", "vid", "pid", "config3E", "cardMiB", "cardSectors", "cardType", "cards",
            "eeprom", "deviceNumbers", "partitioned", "realMiB", "forgery", "dropReads", "faults",
            "readMBps", "writeMBps", "plugged"});
    ReaderPlan reader;
    reader.at = at;
    reader.jsonPath = path;
    if (!value.contains("id")) refuse(member(path, "id"), "is missing");
    reader.id = text(value["id"], member(path, "id"));
    if (!safeId(reader.id))
      refuse(member(path, "id"),
             "must be 1 to 64 letters, digits, '-' or '_', not \"" + reader.id + "\"");
    if (!ids_.insert(reader.id).second)
      refuse(member(path, "id"), "\"" + reader.id + "\" is already used by another reader");
    if (!value.contains("model")) refuse(member(path, "model"), "is missing");
    const std::string model = text(value["model"], member(path, "model"));
    const std::optional<ModelInfo> info = findModel(model);
    if (!info) refuse(member(path, "model"), "names no known model: \"" + model + "\"");
    reader.model = *info;
    reader.productId = info->productId;
    reader.configuration = defaultConfiguration(*info);
    if (value.contains("vid")) reader.vendorId = hexWord(value["vid"], member(path, "vid"));
    if (value.contains("pid")) reader.productId = hexWord(value["pid"], member(path, "pid"));
    if (value.contains("config3E")) {
      const std::vector<std::uint8_t> bytes = hexBytes(value["config3E"], member(path, "config3E"));
      if (bytes.size() != kConfigurationBytes)
        refuse(member(path, "config3E"), "must be 16 bytes in hex");
      std::copy(bytes.begin(), bytes.end(), reader.configuration.begin());
    }
    readCards(value, path, reader);
    if (value.contains("eeprom")) {
      if (!info->hasEeprom) refuse(member(path, "eeprom"), "this model has no EEPROM");
      reader.eeprom = hexBytes(value["eeprom"], member(path, "eeprom"));
      if (reader.eeprom.size() > kEepromBytes)
        refuse(member(path, "eeprom"), "holds more than 256 bytes");
    }
    if (value.contains("deviceNumbers")) {
      const std::string numbersPath = member(path, "deviceNumbers");
      const json& numbers = array(value["deviceNumbers"], numbersPath);
      if (numbers.size() != info->lunCount)
        refuse(numbersPath,
               "must hold one number per logical unit (" + std::to_string(info->lunCount) + ")");
      for (std::size_t i = 0; i < numbers.size(); ++i)
        reader.deviceNumbers.push_back(static_cast<std::uint32_t>(
            integer(numbers[i], element(numbersPath, i), 0, 0xFFFFFFFF)));
    }
    if (value.contains("faults")) {
      const json& faults = array(value["faults"], member(path, "faults"));
      for (std::size_t i = 0; i < faults.size(); ++i) {
        FaultPlan fault = readFault(faults[i], element(member(path, "faults"), i), reader);
        if (!fault.command.empty()) reader.faults.push_back(fault);
      }
    }
    if (value.contains("readMBps"))
      reader.readMBps = rate(value["readMBps"], member(path, "readMBps"));
    if (value.contains("writeMBps"))
      reader.writeMBps = rate(value["writeMBps"], member(path, "writeMBps"));
    if (value.contains("plugged"))
      reader.pluggedAtStart = flag(value["plugged"], member(path, "plugged"));
    plan_.readers.push_back(std::move(reader));
  }

  void readCards(const json& value, const std::string& path, ReaderPlan& reader) {
    const bool slotKeys =
        std::ranges::any_of(kCardKeys, [&](std::string_view k) { return value.contains(k); });
    if (value.contains("cards")) {
      const std::string cardsPath = member(path, "cards");
      if (reader.model.cardSlots < 2) refuse(cardsPath, "this model has one card slot");
      if (slotKeys) refuse(cardsPath, "cannot be combined with the keys of a single card");
      const json& cards = array(value["cards"], cardsPath);
      if (cards.size() > reader.model.cardSlots)
        refuse(cardsPath, "holds more cards than the model's 2 slots");
      for (std::size_t i = 0; i < cards.size(); ++i) {
        const std::string cardPath = element(cardsPath, i);
        object(cards[i], cardPath, kCardKeys);
        reader.cards.push_back(readCard(cards[i], cardPath));
      }
    } else {
      reader.cards.push_back(readCard(value, path));
    }
    reader.cards.resize(reader.model.cardSlots);
  }

  void readEvent(const json& value, const std::string& path) {
    object(value, path, {"atMs", "plug", "pull"});
    EventPlan event;
    if (!value.contains("atMs")) refuse(member(path, "atMs"), "is missing");
    event.atMs = static_cast<std::uint64_t>(
        integer(value["atMs"], member(path, "atMs"), 0, std::int64_t{1} << 40));
    if (value.contains("plug") == value.contains("pull"))
      refuse(path, "must hold exactly one of plug and pull");
    event.plug = value.contains("plug");
    const std::string key = event.plug ? "plug" : "pull";
    event.readerId = text(value[key], member(path, key));
    if (!ids_.contains(event.readerId))
      refuse(member(path, key), "names no reader: \"" + event.readerId + "\"");
    plan_.events.push_back(event);
  }

  FarmPlan& plan_;
  std::set<std::string> ids_;
};

} // namespace

std::optional<FaultPlan> parseFault(std::string_view json, std::string& error) {
  try {
    const nlohmann::json value = nlohmann::json::parse(json.begin(), json.end());
    ReaderPlan reader;
    if (value.is_object() && value.contains("failFirst"))
      refuse("$.failFirst", "needs a new reader");
    return readFault(value, "$", reader);
  } catch (const Refusal& refusal) {
    error = refusal.path + ": " + refusal.what;
  } catch (const nlohmann::json::exception&) {
    error = "not valid JSON";
  }
  return std::nullopt;
}

std::optional<FarmPlan> parseFarm(std::string_view json, std::string_view sourceName,
                                  const std::filesystem::path& baseDir, std::string& error) {
  nlohmann::json root;
  try {
    root = nlohmann::json::parse(json.begin(), json.end());
  } catch (const nlohmann::json::parse_error& e) {
    error = std::string(sourceName) + ": not valid JSON (byte " + std::to_string(e.byte) + ")";
    return std::nullopt;
  } catch (const nlohmann::json::out_of_range&) {
    // A number beyond a double's range is not JSON that any reader can hold.
    error = std::string(sourceName) + ": not valid JSON (a number out of range)";
    return std::nullopt;
  }
  FarmPlan plan;
  try {
    FarmReader(plan).readRoot(root, baseDir);
  } catch (const Refusal& refusal) {
    error = std::string(sourceName) + ": " + refusal.path + ": " + refusal.what;
    return std::nullopt;
  } catch (const nlohmann::json::exception& e) {
    error = std::string(sourceName) + ": " + e.what();
    return std::nullopt;
  }
  std::stable_sort(plan.events.begin(), plan.events.end(),
                   [](const EventPlan& a, const EventPlan& b) { return a.atMs < b.atMs; });
  return plan;
}

} // namespace tarvix::platform::sim
