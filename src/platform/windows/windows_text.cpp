#include "platform/windows/windows_text.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace tarvix::platform::windows {
namespace {

// Win32 error codes the pass-through judgement tells apart.
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kInvalidHandle = 6;
constexpr std::uint32_t kNotReady = 21;
constexpr std::uint32_t kGenFailure = 31;
constexpr std::uint32_t kSemTimeout = 121;
constexpr std::uint32_t kDeviceNotConnected = 1167;
constexpr std::uint32_t kNoSuchDevice = 433;
constexpr std::uint32_t kIoDevice = 1117;

constexpr std::uint8_t kCheckCondition = 0x02;

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) ==
                  std::toupper(static_cast<unsigned char>(b));
         });
}

template <typename Number> std::optional<Number> parseNumber(std::string_view text, int base) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(platform::littleEndian(&b[at], 4));
}

std::uint64_t get64(std::span<const std::uint8_t> b, std::size_t at) {
  return platform::littleEndian(&b[at], 8);
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::size_t value) {
  b[at] = static_cast<std::uint8_t>(value);
  b[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Where the pass-through header keeps its fields, and what the station puts there.
constexpr std::size_t kTargetIdAt = 4;
constexpr std::size_t kCdbLengthAt = 6;
constexpr std::size_t kSenseInfoLengthAt = 7;
constexpr std::size_t kDataInAt = 8;
constexpr std::size_t kDataTransferLengthAt = 12;
constexpr std::size_t kTimeOutValueAt = 16;
constexpr std::size_t kSenseInfoOffsetAt = 32;
constexpr std::size_t kCdbAt = 36;
constexpr std::uint8_t kTargetId = 1;
constexpr std::uint8_t kDataOut = 0; // also for requests that move no data
constexpr std::uint8_t kDataIn = 1;

// A whole argument in quotation marks, none inside.
bool quotedAlready(std::string_view argument) {
  return argument.size() >= 2 && argument.front() == '"' && argument.back() == '"' &&
         argument.find('"', 1) == argument.size() - 1;
}

std::string quoted(const std::string& path) { return '"' + path + '"'; }

std::string quotedIfBlank(const std::string& path) {
  return path.find_first_of(" \t") == std::string::npos ? path : quoted(path);
}

} // namespace

std::string commandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& argument : argv) {
    if (!line.empty()) line += ' ';
    if ((!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) ||
        quotedAlready(argument)) {
      line += argument;
      continue;
    }
    // Backslashes are literal unless they precede a quotation mark: then each one is doubled,
    // and the mark escaped, so that the parser's halving gives them back.
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : argument) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
  }
  return line;
}

CopyCommand xcopyCommand(const std::string& target, const std::string& source,
                         const std::string& folderName) {
  const std::string quotedSource = quoted(source);
  if (folderName.empty()) return {{"xcopy.exe", quotedSource, quotedIfBlank(target), "/Y"}, {}};
  return {{"xcopy.exe", quotedSource, quotedIfBlank(target + folderName + "\\"), "/E", "/Y"}, {}};
}

std::string ignoreSerialValueName(std::string_view vendorId, std::string_view productId) {
  return "IgnoreHWSerNum" + std::string(vendorId) + std::string(productId);
}

PassThroughFrame passThroughFrame(const PassThroughRequest& request) {
  const bool direct = request.frame == FrameVariant::Direct;
  const bool in = request.direction == DataDirection::In;
  const std::uint32_t n = request.dataLength;
  PassThroughFrame f;
  f.controlCode = direct ? frame::kDirectCode : frame::kBufferedCode;
  f.bytes.assign(frame::kDataAt + (direct ? 0 : n), 0);
  std::vector<std::uint8_t>& b = f.bytes;
  put16(b, 0, frame::kHeaderBytes);
  b[kTargetIdAt] = kTargetId;
  b[kCdbLengthAt] = static_cast<std::uint8_t>(request.commandBlock.size());
  b[kSenseInfoLengthAt] = request.senseLength;
  b[kDataInAt] = in ? kDataIn : kDataOut;
  put32(b, kDataTransferLengthAt, n);
  put32(b, kTimeOutValueAt, request.timeoutSeconds);
  put32(b, kSenseInfoOffsetAt, frame::kSenseAt);
  std::copy(request.commandBlock.begin(), request.commandBlock.end(), b.begin() + kCdbAt);
  if (direct) {
    f.inputLength = f.outputLength = frame::kDataAt;
    return f;
  }
  // The two commands that move no data and want no sense leave the data area unset and hand the
  // frame over up to it; every other buffered request hands over the header alone.
  const bool bare = n == 0 && request.senseLength == 0;
  if (!bare) put32(b, frame::kDataAddressAt, frame::kDataAt);
  f.inputLength = bare ? frame::kDataAt : frame::kHeaderBytes;
  f.outputLength = frame::kDataAt + (in ? n : 0);
  if (!in && n > 0) {
    std::copy_n(request.data, n, b.begin() + frame::kDataAt);
    f.inputLength = frame::kDataAt + n;
  }
  return f;
}

std::string localeName(std::string_view language, std::string_view country) {
  if (language.empty()) return {};
  std::string name(language);
  if (!country.empty()) name += "_" + std::string(country);
  return name;
}

std::optional<int> portFromLocation(std::string_view location) {
  constexpr std::string_view kPort = "Port_#";
  if (!startsWithNoCase(location, kPort)) return std::nullopt;
  location.remove_prefix(kPort.size());
  const auto port = parseNumber<int>(location.substr(0, location.find('.')), 10);
  if (!port || *port < 1) return std::nullopt;
  return port;
}

std::optional<UsbInstanceId> parseUsbInstanceId(std::string_view id) {
  if (!startsWithNoCase(id, "USB\\")) return std::nullopt;
  id.remove_prefix(4);
  const auto slash = id.find('\\');
  if (slash == std::string_view::npos) return std::nullopt;
  std::string_view ids = id.substr(0, slash);
  UsbInstanceId result;
  result.instance = std::string(id.substr(slash + 1));
  bool vendor = false;
  bool product = false;
  while (!ids.empty()) {
    const auto amp = ids.find('&');
    const std::string_view part = ids.substr(0, amp);
    ids = amp == std::string_view::npos ? std::string_view() : ids.substr(amp + 1);
    if (part.size() < 4) return std::nullopt;
    const std::string_view value = part.substr(4);
    if (startsWithNoCase(part, "VID_")) {
      const auto v = parseNumber<std::uint16_t>(value, 16);
      if (!v || value.size() != 4) return std::nullopt;
      result.vendorId = *v;
      vendor = true;
    } else if (startsWithNoCase(part, "PID_")) {
      const auto p = parseNumber<std::uint16_t>(value, 16);
      if (!p || value.size() != 4) return std::nullopt;
      result.productId = *p;
      product = true;
    } else if (startsWithNoCase(part, "MI_")) {
      const auto mi = parseNumber<int>(part.substr(3), 16);
      if (!mi) return std::nullopt;
      result.interfaceNumber = *mi;
    }
  }
  if (!vendor || !product || result.instance.empty()) return std::nullopt;
  return result;
}

std::optional<UsbLocation> parseLocationPath(std::string_view path) {
  constexpr std::string_view kRoot = "USBROOT(";
  UsbLocation location;
  bool rooted = false;
  std::size_t at = 0;
  while (at <= path.size()) {
    const auto end = std::min(path.find('#', at), path.size());
    const std::string_view part = path.substr(at, end - at);
    if (!rooted) {
      if (startsWithNoCase(part, kRoot)) {
        rooted = true;
        location.controller = std::string(path.substr(0, end));
      }
    } else {
      // Each hop below the root hub is "USB(p)", p the port on the hub above.
      if (!startsWithNoCase(part, "USB(") || part.back() != ')') return std::nullopt;
      const auto port = parseNumber<int>(part.substr(4, part.size() - 5), 10);
      if (!port || *port < 1) return std::nullopt;
      location.ports.push_back(*port);
    }
    at = end + 1;
  }
  if (!rooted) return std::nullopt;
  return location;
}

std::vector<char> lettersOfMountPoints(std::u16string_view multiString) {
  std::vector<char> letters;
  while (!multiString.empty() && multiString.front() != u'\0') {
    const auto end = std::min(multiString.find(u'\0'), multiString.size());
    const std::u16string_view point = multiString.substr(0, end);
    if (point.size() == 3 && point[1] == u':' && point[2] == u'\\') {
      const char16_t c = point[0];
      if (c >= u'a' && c <= u'z') letters.push_back(static_cast<char>(c - u'a' + 'A'));
      if (c >= u'A' && c <= u'Z') letters.push_back(static_cast<char>(c));
    }
    multiString.remove_prefix(std::min(end + 1, multiString.size()));
  }
  return letters;
}

std::uint8_t senseKeyOf(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return 0;
  const std::uint8_t code = sense[0] & 0x7F;
  if ((code == 0x70 || code == 0x71) && sense.size() > 2) return sense[2] & 0x0F;
  if ((code == 0x72 || code == 0x73) && sense.size() > 1) return sense[1] & 0x0F;
  return 0;
}

PassThroughVerdict judgePassThrough(bool delivered, std::uint32_t systemError,
                                    std::uint8_t scsiStatus, std::span<const std::uint8_t> sense) {
  PassThroughVerdict verdict;
  if (!delivered) {
    switch (systemError) {
    case kAccessDenied: verdict.errorCode = EACCES; break;
    case kInvalidHandle: verdict.errorCode = EBADF; break;
    case kNotReady:
    case kDeviceNotConnected:
    case kNoSuchDevice: verdict.errorCode = ENODEV; break;
    case kSemTimeout: verdict.errorCode = ETIMEDOUT; break;
    case kGenFailure:
    case kIoDevice:
    default: verdict.errorCode = EIO; break;
    }
    return verdict;
  }
  if (scsiStatus == 0) {
    verdict.good = true;
    return verdict;
  }
  // The device refused the command: the channel judges the sense, the backend only reports it.
  verdict.errorCode = EIO;
  if (scsiStatus == kCheckCondition) verdict.senseKey = senseKeyOf(sense);
  return verdict;
}

PassThroughVerdict judgePassThrough(bool delivered, std::uint32_t systemError,
                                    std::span<const std::uint8_t> frame) {
  if (frame.size() < frame::kDataAt) return judgePassThrough(delivered, systemError, 0xFF, {});
  return judgePassThrough(delivered, systemError, frame[frame::kScsiStatusAt],
                          frame.subspan(frame::kSenseAt, kSenseAreaLength));
}

std::optional<DriveLayout> decodeDriveLayout(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kLayoutHeaderBytes) return std::nullopt;
  DriveLayout layout;
  layout.style = get32(bytes, 0);
  const std::uint32_t count = get32(bytes, 4);
  if (layout.style > 2 || count > 128 ||
      bytes.size() < kLayoutHeaderBytes + std::size_t{count} * kLayoutEntryBytes) {
    return std::nullopt;
  }
  if (layout.style == 0) layout.signature = get32(bytes, 8);
  for (std::uint32_t n = 0; n < count; ++n) {
    const std::size_t e = kLayoutHeaderBytes + n * kLayoutEntryBytes;
    LayoutEntry entry;
    entry.startingOffset = get64(bytes, e + 8);
    entry.length = get64(bytes, e + 16);
    // MBR entries: the type byte opens the style's own part at offset 32.
    if (get32(bytes, e) == 0) entry.type = bytes[e + 32];
    if (entry.length != 0 && (get32(bytes, e) != 0 || entry.type != 0))
      layout.partitions.push_back(entry);
  }
  return layout;
}

std::vector<std::uint8_t> emptyMbrLayout(std::uint32_t signature) {
  constexpr std::uint32_t kMbrEntries = 4;
  std::vector<std::uint8_t> bytes(kLayoutHeaderBytes + kMbrEntries * kLayoutEntryBytes, 0);
  put32(bytes, 0, 0); // PARTITION_STYLE_MBR
  put32(bytes, 4, kMbrEntries);
  put32(bytes, 8, signature);
  for (std::uint32_t n = 0; n < kMbrEntries; ++n) {
    // Each entry is to be written: an unused one clears its slot in the table.
    bytes[kLayoutHeaderBytes + n * kLayoutEntryBytes + 28] = 1; // RewritePartition
  }
  return bytes;
}

UsbTopology buildTopology(const std::vector<std::string>& controllerPaths,
                          std::vector<UsbNodeRecord> nodes) {
  struct Placed {
    UsbLocation location;
    const UsbNodeRecord* node;
  };
  std::vector<Placed> placed;
  for (const UsbNodeRecord& node : nodes) {
    if (auto location = parseLocationPath(node.locationPath))
      placed.push_back({std::move(*location), &node});
  }
  // Hubs before what hangs on them.
  std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
    return a.location.ports.size() < b.location.ports.size();
  });
  UsbTopology topology;
  constexpr std::size_t kMostControllers = 10;
  for (std::size_t c = 0; c < controllerPaths.size() && c < kMostControllers; ++c) {
    HostController controller;
    controller.index = static_cast<int>(c);
    const auto rooted = parseLocationPath(controllerPaths[c]);
    for (const Placed& p : placed) {
      if (!rooted || p.location.controller != rooted->controller) continue;
      if (p.location.ports.empty()) {
        if (p.node->hub)
          controller.rootPorts.assign(static_cast<std::size_t>(p.node->portCount), {});
        continue;
      }
      std::vector<UsbPort>* ports = &controller.rootPorts;
      UsbPort* port = nullptr;
      for (const int number : p.location.ports) {
        if (port != nullptr) {
          if (port->attached != UsbPort::Attached::Hub) {
            port = nullptr;
            break;
          }
          ports = &port->ports;
        }
        if (number > static_cast<int>(ports->size())) {
          port = nullptr;
          break;
        }
        port = &(*ports)[static_cast<std::size_t>(number - 1)];
      }
      if (port == nullptr) continue;
      if (p.node->hub) {
        port->attached = UsbPort::Attached::Hub;
        port->ports.assign(static_cast<std::size_t>(std::max(0, p.node->portCount)), {});
      } else {
        port->attached = UsbPort::Attached::Device;
        port->deviceKey = p.node->deviceKey;
        port->firstVolumeLetter = p.node->firstVolumeLetter;
      }
    }
    topology.controllers.push_back(std::move(controller));
  }
  return topology;
}

} // namespace tarvix::platform::windows
