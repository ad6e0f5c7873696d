// What the Windows backend hands to the system and reads back from it, as pure functions on bytes
// and text: they build and are tested on every system, with recorded answers as fixtures.
#pragma once

#include "platform/reader_access.h"
#include "platform/usb_tree.h"
#include "platform/volumes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::platform::windows {

// One command line from `argv` (UTF-8), quoted so that the C runtime's parser of the started
// program gives back exactly `argv`. An argument that comes in quotation marks already goes in as
// it stands: no Windows path holds one, and the copy tool wants its paths written so.
std::string commandLine(const std::vector<std::string>& argv);

// xcopy's run for Volumes::copyCommand, onto `target` ("G:\"): a file into the root, or a folder's
// content, subfolders included, into "G:\<folderName>\"; overwriting without asking, as a hidden
// tool cannot be answered. xcopy splits its line itself, at blanks outside quotation marks and with
// no escapes: the source always in quotation marks, "xcopy.exe "D:\Data\a.txt" G:\ /Y", and the
// target in them only when it holds a blank.
CopyCommand xcopyCommand(const std::string& target, const std::string& source,
                         const std::string& folderName);

// The registry value that makes the USB stack ignore the serial numbers of readers with this vendor
// and product id: "IgnoreHWSerNum" and the two texts joined as they stand ("3C7D", "A706").
std::string ignoreSerialValueName(std::string_view vendorId, std::string_view productId);

// The SCSI pass-through frame as this 64-bit process hands it to the system: the header
// (SCSI_PASS_THROUGH, or SCSI_PASS_THROUGH_DIRECT for a direct request) in its 64-bit layout, a
// 4-byte filler, the 32-byte sense area and, buffered only, the data area.
namespace frame {
inline constexpr std::size_t kHeaderBytes = 56;
inline constexpr std::size_t kScsiStatusAt = 2;
inline constexpr std::size_t kDataAddressAt = 24; // DataBufferOffset, or DataBuffer when direct
inline constexpr std::size_t kSenseAt = 60;
inline constexpr std::size_t kDataAt = 92;
inline constexpr std::uint32_t kBufferedCode = 0x4D004; // IOCTL_SCSI_PASS_THROUGH
inline constexpr std::uint32_t kDirectCode = 0x4D014;   // IOCTL_SCSI_PASS_THROUGH_DIRECT
} // namespace frame

struct PassThroughFrame {
  std::uint32_t controlCode = 0;
  std::vector<std::uint8_t> bytes; // header, filler, sense area, data area when buffered
  std::uint32_t inputLength = 0;
  std::uint32_t outputLength = 0;
};
// The frame of `request`, every byte it does not set zero. A buffered write carries its data in
// the data area; a direct frame's data address is left for the sender to put in.
PassThroughFrame passThroughFrame(const PassThroughRequest& request);

// "zh" and "TW" as the system names the user's language and country: "zh_TW".
std::string localeName(std::string_view language, std::string_view country);

// The hub port of a device from its location information, "Port_#0003.Hub_#0002" -> 3.
std::optional<int> portFromLocation(std::string_view location);

// A USB device instance id, "USB\VID_1234&PID_5678\SERIAL".
struct UsbInstanceId {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  int interfaceNumber = -1; // "&MI_01" of one function of a composite device; -1 for the device
  std::string instance;     // the serial number, or the system's own name for the port
};
std::optional<UsbInstanceId> parseUsbInstanceId(std::string_view id);

// A device's first location path, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)": the host
// controller's own part (up to and including USBROOT(n)), and the ports from the root hub down.
struct UsbLocation {
  std::string controller;
  std::vector<int> ports;
};
std::optional<UsbLocation> parseLocationPath(std::string_view path);

// The drive letters of a volume's mount points, a list of zero-ended paths ending in an empty one
// ("E:\", "C:\mnt\card\"): the letters of those that are a drive's root, in upper case.
std::vector<char> lettersOfMountPoints(std::u16string_view multiString);

// The sense key of a sense area, in fixed (0x70, 0x71) or descriptor (0x72, 0x73) format; 0 for
// anything else.
std::uint8_t senseKeyOf(std::span<const std::uint8_t> sense);

// How one pass-through went, from what the system answered: `delivered` when the control call
// succeeded (else `systemError` is its error), then the device's SCSI status and sense area.
struct PassThroughVerdict {
  bool good = false;
  int errorCode = 0; // errno value, as ReaderAccess reports it
  std::uint8_t senseKey = 0;
};
PassThroughVerdict judgePassThrough(bool delivered, std::uint32_t systemError,
                                    std::uint8_t scsiStatus, std::span<const std::uint8_t> sense);
// The same from a frame as the system handed it back.
PassThroughVerdict judgePassThrough(bool delivered, std::uint32_t systemError,
                                    std::span<const std::uint8_t> frame);

// DRIVE_LAYOUT_INFORMATION_EX as bytes: its MBR partitions' starting offsets and type bytes.
struct LayoutEntry {
  std::uint64_t startingOffset = 0;
  std::uint64_t length = 0;
  std::uint8_t type = 0;
};
struct DriveLayout {
  std::uint32_t style = 0; // 0 MBR, 1 GPT, 2 raw
  std::uint32_t signature = 0;
  std::vector<LayoutEntry> partitions; // entries in use only
};
inline constexpr std::size_t kLayoutHeaderBytes = 48;
inline constexpr std::size_t kLayoutEntryBytes = 144;
std::optional<DriveLayout> decodeDriveLayout(std::span<const std::uint8_t> bytes);
// An MBR layout with four unused entries, keeping the disk's `signature`: what drops the partition
// table through IOCTL_DISK_SET_DRIVE_LAYOUT_EX.
std::vector<std::uint8_t> emptyMbrLayout(std::uint32_t signature);

// One USB hub or device as the system lists it: its first location path, and for a hub its port
// count, for a device its key and the letter of its first disk's volume.
struct UsbNodeRecord {
  std::string locationPath;
  bool hub = false;
  int portCount = 0;
  std::string deviceKey;
  char firstVolumeLetter = 0;
};
// The tree from the host controllers' location paths (the system's order) and every hub and device,
// root hubs included. A node whose path leads through no known hub, or past a hub's last port, is
// left out.
UsbTopology buildTopology(const std::vector<std::string>& controllerPaths,
                          std::vector<UsbNodeRecord> nodes);

} // namespace tarvix::platform::windows
