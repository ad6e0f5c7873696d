#include "platform/windows/device_io.h"

#include "platform/windows/device_parts.h"
#include "platform/windows/wide.h"
#include "platform/windows/windows_text.h"

#include "platform/files/label_codec.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include <ntddscsi.h>
#include <winioctl.h>

namespace tarvix::platform::windows {
namespace {

// The decoders read these structures as bytes; the system's own layout must match.
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_EX) - sizeof(PARTITION_INFORMATION_EX) ==
              kLayoutHeaderBytes);
static_assert(sizeof(PARTITION_INFORMATION_EX) == kLayoutEntryBytes);
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) == 32);
static_assert(offsetof(PARTITION_INFORMATION_EX, RewritePartition) == 28);

// The frame is built as bytes; the system's own records must lie where the bytes put them.
static_assert(sizeof(SCSI_PASS_THROUGH) == frame::kHeaderBytes);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == frame::kHeaderBytes);
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == 4);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == frame::kDataAddressAt);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == frame::kDataAddressAt);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == 32);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == 36);
static_assert(IOCTL_SCSI_PASS_THROUGH == frame::kBufferedCode);
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == frame::kDirectCode);

// The disk the system runs from: the disk number of the Windows folder's volume.
std::optional<std::uint32_t> systemDiskNumber() {
  wchar_t folder[MAX_PATH] = {};
  if (::GetSystemWindowsDirectoryW(folder, MAX_PATH) == 0 || folder[1] != L':') return std::nullopt;
  const OwnedHandle volume = openDevice(letterDevicePath(static_cast<char>(folder[0])), 0);
  if (!volume) return std::nullopt;
  const auto number = storageNumber(volume.get());
  if (!number) return std::nullopt;
  return number->number;
}

bool attachedThroughUsb(HANDLE device) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  alignas(8) std::uint8_t reply[1024] = {};
  DWORD returned = 0;
  if (!::DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, reply,
                         sizeof reply, &returned, nullptr) ||
      returned < sizeof(STORAGE_DEVICE_DESCRIPTOR)) {
    return false;
  }
  return reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(reply)->BusType == BusTypeUsb;
}

template <typename Reply> bool query(HANDLE device, DWORD code, Reply& reply) {
  DWORD returned = 0;
  return ::DeviceIoControl(device, code, nullptr, 0, &reply, sizeof reply, &returned, nullptr);
}

bool control(HANDLE device, DWORD code, const void* in = nullptr, DWORD inBytes = 0) {
  DWORD returned = 0;
  return ::DeviceIoControl(device, code, const_cast<void*>(in), inBytes, nullptr, 0, &returned,
                           nullptr);
}

std::wstring physicalDrivePath(std::uint32_t number) {
  return L"\\\\.\\PhysicalDrive" + std::to_wstring(number);
}

int errnoOf(DWORD error) { return judgePassThrough(false, error, 0, {}).errorCode; }

} // namespace

char driveLetter(std::string_view driveName) {
  if (driveName.empty()) return 0;
  const char c = driveName[0];
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return c >= 'A' && c <= 'Z' ? c : 0;
}

std::wstring letterDevicePath(char letter) {
  return std::wstring(L"\\\\.\\") + static_cast<wchar_t>(letter) + L":";
}

OwnedHandle openDevice(const std::wstring& path, DWORD access) {
  return OwnedHandle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
}

std::optional<StorageNumber> storageNumber(HANDLE device) {
  STORAGE_DEVICE_NUMBER number{};
  if (!query(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, number)) return std::nullopt;
  return StorageNumber{number.DeviceType, number.DeviceNumber};
}

bool mayWrite(char letter) {
  if (letter == 0) return false;
  const OwnedHandle device = openDevice(letterDevicePath(letter), 0);
  if (!device || !attachedThroughUsb(device.get())) return false;
  const auto number = storageNumber(device.get());
  if (!number) return false;
  if (number->type != FILE_DEVICE_DISK) return true; // a reader's CD-ROM unit
  // Unknown where the system runs from: nothing is written anywhere.
  const auto system = systemDiskNumber();
  return system && *system != number->number;
}

// Pass-through ------------------------------------------------------------------------------

ReaderHandle WindowsReaderAccess::open(std::string_view driveName) {
  const char letter = driveLetter(driveName);
  if (!mayWrite(letter)) return kNoReader;
  OwnedHandle device = openDevice(letterDevicePath(letter), GENERIC_READ | GENERIC_WRITE);
  if (!device) return kNoReader;
  return static_cast<ReaderHandle>(reinterpret_cast<std::intptr_t>(device.release()));
}

bool WindowsReaderAccess::send(ReaderHandle handle, PassThroughRequest& request) {
  const HANDLE device = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle));
  PassThroughFrame sent = passThroughFrame(request);
  // A direct request's data moves in place; a buffer off the adapter's alignment goes through an
  // aligned copy.
  constexpr std::uintptr_t kAlignment = 16;
  std::unique_ptr<std::uint8_t[], void (*)(void*)> bounce(nullptr, ::_aligned_free);
  std::uint8_t* data = request.data;
  const bool direct = request.frame == FrameVariant::Direct;
  if (direct && request.dataLength > 0 &&
      reinterpret_cast<std::uintptr_t>(data) % kAlignment != 0) {
    bounce.reset(static_cast<std::uint8_t*>(::_aligned_malloc(request.dataLength, kAlignment)));
    if (!bounce) {
      request.errorCode = ENOMEM;
      return false;
    }
    data = bounce.get();
    if (request.direction == DataDirection::Out)
      std::memcpy(data, request.data, request.dataLength);
    else
      std::memset(data, 0, request.dataLength);
  }
  if (direct && request.dataLength > 0)
    std::memcpy(sent.bytes.data() + frame::kDataAddressAt, &data, sizeof data);
  DWORD returned = 0;
  const bool delivered =
      ::DeviceIoControl(device, sent.controlCode, sent.bytes.data(), sent.inputLength,
                        sent.bytes.data(), sent.outputLength, &returned, nullptr);
  const DWORD error = delivered ? 0 : ::GetLastError();
  if (request.direction == DataDirection::In && request.dataLength > 0) {
    // A buffered read answers in the frame's data area, zero where the device sent nothing.
    const std::uint8_t* answer = direct ? data : sent.bytes.data() + frame::kDataAt;
    if (answer != request.data) std::memcpy(request.data, answer, request.dataLength);
  }
  const auto verdict = judgePassThrough(delivered, error, sent.bytes);
  request.errorCode = verdict.errorCode;
  request.senseKey = verdict.senseKey;
  if (request.senseLength != 0)
    std::memcpy(request.sense.data(), sent.bytes.data() + frame::kSenseAt, kSenseAreaLength);
  return verdict.good;
}

void WindowsReaderAccess::close(ReaderHandle handle) {
  ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle)));
}

// Volumes -----------------------------------------------------------------------------------

WindowsVolume::WindowsVolume(OwnedHandle volume, std::uint32_t diskNumber)
    : volume_(std::move(volume)), diskNumber_(diskNumber) {}

bool WindowsVolume::fail() {
  lastError_ = errnoOf(::GetLastError());
  return false;
}

bool WindowsVolume::geometry(VolumeGeometry& out) {
  DISK_GEOMETRY disk{};
  if (!query(volume_.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, disk)) return fail();
  out.bytesPerSector = disk.BytesPerSector;
  out.sectorsPerTrack = disk.SectorsPerTrack;
  out.tracksPerCylinder = disk.TracksPerCylinder;
  return true;
}

bool WindowsVolume::hiddenSectors(std::uint32_t& out) {
  PARTITION_INFORMATION_EX partition{};
  if (!query(volume_.get(), IOCTL_DISK_GET_PARTITION_INFO_EX, partition)) return fail();
  // A volume that is the whole disk answers as an MBR partition from sector 0.
  out = partition.PartitionStyle == PARTITION_STYLE_MBR ? partition.Mbr.HiddenSectors : 0;
  return true;
}

bool WindowsVolume::setPartitionType(std::uint8_t type) {
  SET_PARTITION_INFORMATION set{};
  set.PartitionType = type;
  if (!control(volume_.get(), IOCTL_DISK_SET_PARTITION_INFO, &set, sizeof set)) return fail();
  return true;
}

bool WindowsVolume::dropPartitionLayout() {
  const OwnedHandle disk = openDevice(physicalDrivePath(diskNumber_), GENERIC_READ | GENERIC_WRITE);
  if (!disk) return fail();
  std::vector<std::uint8_t> current(kLayoutHeaderBytes + 128 * kLayoutEntryBytes);
  DWORD returned = 0;
  if (!::DeviceIoControl(disk.get(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, current.data(),
                         static_cast<DWORD>(current.size()), &returned, nullptr)) {
    return fail();
  }
  current.resize(returned);
  const auto layout = decodeDriveLayout(current);
  if (!layout || layout->style != PARTITION_STYLE_MBR) {
    lastError_ = EINVAL; // no partition table to drop
    return false;
  }
  const auto empty = emptyMbrLayout(layout->signature);
  if (!control(disk.get(), IOCTL_DISK_SET_DRIVE_LAYOUT_EX, empty.data(),
               static_cast<DWORD>(empty.size()))) {
    return fail();
  }
  return true;
}

bool WindowsVolume::dismount() {
  ::FlushFileBuffers(volume_.get());
  // Locked first, so no file of the old file system stays open across the dismount; a volume
  // that will not lock is dismounted anyway, and its open files become invalid.
  control(volume_.get(), FSCTL_LOCK_VOLUME);
  if (!control(volume_.get(), FSCTL_DISMOUNT_VOLUME)) return fail();
  return true;
}

bool WindowsVolume::writeAt(std::uint64_t byteOffset, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(byteOffset + done);
    place.OffsetHigh = static_cast<DWORD>((byteOffset + done) >> 32);
    DWORD moved = 0;
    const auto length = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 24));
    if (!::WriteFile(volume_.get(), data.data() + done, length, &moved, &place)) return fail();
    if (moved == 0) {
      lastError_ = EIO;
      return false;
    }
    done += moved;
  }
  // The device has it: the system's cache for raw volumes is written through here.
  if (!::FlushFileBuffers(volume_.get())) return fail();
  return true;
}

std::string WindowsVolume::labelBytes(std::string_view label) const {
  return files::localeLabelBytes(label);
}

std::unique_ptr<Volume> WindowsVolumes::open(std::string_view driveName) {
  const char letter = driveLetter(driveName);
  if (!mayWrite(letter)) return nullptr;
  OwnedHandle volume = openDevice(letterDevicePath(letter), GENERIC_READ | GENERIC_WRITE);
  if (!volume) return nullptr;
  const auto number = storageNumber(volume.get());
  if (!number || number->type != FILE_DEVICE_DISK) return nullptr;
  return std::make_unique<WindowsVolume>(std::move(volume), number->number);
}

bool WindowsVolumes::rereadPartitionLayout(std::string_view driveName) {
  const char letter = driveLetter(driveName);
  if (!mayWrite(letter)) return false;
  const OwnedHandle volume = openDevice(letterDevicePath(letter), 0);
  const auto number = volume ? storageNumber(volume.get()) : std::nullopt;
  if (!number || number->type != FILE_DEVICE_DISK) return false;
  const OwnedHandle disk =
      openDevice(physicalDrivePath(number->number), GENERIC_READ | GENERIC_WRITE);
  return disk && control(disk.get(), IOCTL_DISK_UPDATE_PROPERTIES);
}

std::optional<std::string> WindowsVolumes::copyTarget(std::string_view driveName) const {
  const char letter = driveLetter(driveName);
  if (letter == 0 || !mayWrite(letter)) return std::nullopt;
  return std::string(1, letter) + ":\\";
}

CopyCommand WindowsVolumes::copyCommand(const std::string& target, const std::string& source,
                                        const std::string& folderName) const {
  return xcopyCommand(target, source, folderName);
}

} // namespace tarvix::platform::windows
