#include "platform/windows/device_parts.h"
#include "platform/windows/wide.h"
#include "platform/windows/windows_backend.h"
#include "platform/windows/windows_text.h"

#include <map>
#include <set>
#include <vector>

// Kept in this order: the configuration manager's and SetupAPI's headers need windows.h first.
#include <windows.h>
#include <winioctl.h>

// Defines, rather than declares, the property keys of the headers after it.
#include <initguid.h>

#include <cfgmgr32.h>
#include <dbt.h>
#include <devpkey.h>
#include <ntddstor.h>
#include <setupapi.h>
#include <usbioctl.h>
#include <usbiodef.h>

namespace tarvix::platform::windows {
namespace {

struct DeviceInterface {
  std::wstring path;
  DEVINST node = 0;
};

// The present interfaces of class `guid`, with the device node behind each.
std::vector<DeviceInterface> interfacesOf(const GUID& guid) {
  std::vector<DeviceInterface> found;
  const HDEVINFO set =
      ::SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return found;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; ::SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &data); ++i) {
    DWORD bytes = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &bytes, nullptr);
    if (bytes < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    std::vector<std::uint8_t> storage(bytes);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, bytes, nullptr, &device))
      found.push_back({detail->DevicePath, device.DevInst});
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return found;
}

std::string instanceId(DEVINST node) {
  wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
  if (::CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
  return narrow(id);
}

// The node's first location path, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)".
std::string locationPath(DEVINST node) {
  DEVPROPTYPE type = 0;
  ULONG bytes = 0;
  ::CM_Get_DevNode_PropertyW(node, &DEVPKEY_Device_LocationPaths, &type, nullptr, &bytes, 0);
  if (bytes == 0) return {};
  std::vector<wchar_t> list(bytes / sizeof(wchar_t) + 1, L'\0');
  if (::CM_Get_DevNode_PropertyW(node, &DEVPKEY_Device_LocationPaths, &type,
                                 reinterpret_cast<PBYTE>(list.data()), &bytes, 0) != CR_SUCCESS ||
      type != DEVPROP_TYPE_STRING_LIST) {
    return {};
  }
  return narrow(list.data());
}

// The USB device a storage node belongs to: the nearest ancestor whose instance id is a whole
// USB device's (not one function of a composite device).
std::string usbDeviceKeyOf(DEVINST node) {
  for (DEVINST at = node;;) {
    const std::string id = instanceId(at);
    if (const auto usb = parseUsbInstanceId(id); usb && usb->interfaceNumber < 0) return id;
    DEVINST parent = 0;
    if (::CM_Get_Parent(&parent, at, 0) != CR_SUCCESS) return {};
    at = parent;
  }
}

int hubPortCount(const std::wstring& hubPath) {
  const OwnedHandle hub = openDevice(hubPath, GENERIC_WRITE);
  if (!hub) return 0;
  USB_NODE_INFORMATION node{};
  DWORD returned = 0;
  if (!::DeviceIoControl(hub.get(), IOCTL_USB_GET_NODE_INFORMATION, &node, sizeof node, &node,
                         sizeof node, &returned, nullptr) ||
      node.NodeType != UsbHub) {
    return 0;
  }
  return node.u.HubInformation.HubDescriptor.bNumberOfPorts;
}

constexpr wchar_t kWatcherClass[] = L"TarvixDeviceWatcher";

LRESULT CALLBACK watcherProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DEVICECHANGE &&
      (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
    auto* listener = reinterpret_cast<std::function<void(DeviceEvent)>*>(
        ::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (listener != nullptr && *listener)
      (*listener)(wParam == DBT_DEVICEARRIVAL ? DeviceEvent::Arrival : DeviceEvent::Removal);
    return TRUE;
  }
  if (message == WM_CLOSE) {
    ::DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

// Drives ------------------------------------------------------------------------------------

WindowsDrives::~WindowsDrives() { setEventListener({}); }

std::uint32_t WindowsDrives::logicalDriveMask() const { return ::GetLogicalDrives(); }

std::optional<DriveInfo> WindowsDrives::inspect(char letter) const {
  if (letter < 'A' || letter > 'Z') return std::nullopt;
  const wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', L'\0'};
  DriveInfo info;
  switch (::GetDriveTypeW(root)) {
  case DRIVE_REMOVABLE: info.type = DriveType::Removable; break;
  case DRIVE_FIXED: info.type = DriveType::Fixed; break;
  case DRIVE_CDROM: info.type = DriveType::CdRom; break;
  default: return std::nullopt; // network, RAM disk, nothing
  }
  const OwnedHandle device = openDevice(letterDevicePath(letter), 0);
  const auto number = device ? storageNumber(device.get()) : std::nullopt;
  if (!number) return std::nullopt;
  info.deviceNumber = number->number;
  const GUID& kind =
      number->type == FILE_DEVICE_CD_ROM ? GUID_DEVINTERFACE_CDROM : GUID_DEVINTERFACE_DISK;
  for (const DeviceInterface& candidate : interfacesOf(kind)) {
    const OwnedHandle disk = openDevice(candidate.path, 0);
    const auto same = disk ? storageNumber(disk.get()) : std::nullopt;
    if (!same || same->number != number->number || same->type != number->type) continue;
    info.deviceKey = usbDeviceKeyOf(candidate.node);
    break;
  }
  if (info.deviceKey.empty()) return std::nullopt; // not a USB device's
  return info;
}

void WindowsDrives::setEventListener(std::function<void(DeviceEvent)> listener) {
  if (watcher_.joinable()) {
    if (void* window = window_.load()) ::PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0);
    watcher_.join();
    window_ = nullptr;
  }
  {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
    if (!listener_) return;
  }
  // Returns once the watcher's window is there (or could not be made), so that a listener
  // replaced at once still finds the window to close.
  std::promise<void> ready;
  std::future<void> started = ready.get_future();
  watcher_ = std::thread([this, &ready] { watch(ready); });
  started.wait();
}

void WindowsDrives::watch(std::promise<void>& ready) {
  const HINSTANCE module = ::GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = watcherProcedure;
  windowClass.hInstance = module;
  windowClass.lpszClassName = kWatcherClass;
  ::RegisterClassW(&windowClass); // fails harmlessly when a earlier watcher registered it
  const HWND window = ::CreateWindowExW(0, kWatcherClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        module, nullptr);
  if (window == nullptr) {
    trace_.line("device watcher: no message window, arrivals are not reported");
    ready.set_value();
    return;
  }
  std::function<void(DeviceEvent)> listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&listener));
  // Volumes come and go with the readers' cards and units; a message-only window hears of them
  // only through a registration for their interface class.
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = GUID_DEVINTERFACE_VOLUME;
  const HDEVNOTIFY registration =
      ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  window_ = window;
  ready.set_value();
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (registration != nullptr) ::UnregisterDeviceNotification(registration);
}

// USB tree ----------------------------------------------------------------------------------

UsbTopology WindowsUsbTree::snapshot() const {
  // Each USB device's first disk by device number, for the letter of its volume.
  std::map<std::string, std::pair<std::uint32_t, char>> firstDisks;
  const std::uint32_t mask = drives_.logicalDriveMask();
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if ((mask & (1u << (letter - 'A'))) == 0) continue;
    const auto info = drives_.inspect(letter);
    if (!info || info->type == DriveType::CdRom) continue;
    auto [at, added] = firstDisks.try_emplace(info->deviceKey, info->deviceNumber, letter);
    if (!added && info->deviceNumber < at->second.first) at->second = {info->deviceNumber, letter};
  }
  std::vector<std::string> controllers;
  for (const DeviceInterface& controller : interfacesOf(GUID_DEVINTERFACE_USB_HOST_CONTROLLER))
    controllers.push_back(locationPath(controller.node) + "#USBROOT(0)");
  std::vector<UsbNodeRecord> nodes;
  std::set<DEVINST> hubs;
  for (const DeviceInterface& hub : interfacesOf(GUID_DEVINTERFACE_USB_HUB)) {
    hubs.insert(hub.node);
    nodes.push_back({locationPath(hub.node), true, hubPortCount(hub.path), {}, 0});
  }
  for (const DeviceInterface& device : interfacesOf(GUID_DEVINTERFACE_USB_DEVICE)) {
    if (hubs.count(device.node) != 0) continue;
    UsbNodeRecord record{locationPath(device.node), false, 0, instanceId(device.node), 0};
    if (const auto disk = firstDisks.find(record.deviceKey); disk != firstDisks.end())
      record.firstVolumeLetter = disk->second.second;
    nodes.push_back(std::move(record));
  }
  return buildTopology(controllers, std::move(nodes));
}

// The backend -------------------------------------------------------------------------------

struct WindowsBackend::Parts {
  explicit Parts(TraceSink& trace) : drives(trace), usb(drives) {}
  WindowsDrives drives;
  WindowsUsbTree usb;
  WindowsReaderAccess readers;
  WindowsVolumes volumes;
};

WindowsBackend::WindowsBackend(TraceSink& trace) : parts_(std::make_unique<Parts>(trace)) {}
WindowsBackend::~WindowsBackend() = default;
Drives& WindowsBackend::drives() { return parts_->drives; }
UsbTree& WindowsBackend::usb() { return parts_->usb; }
ReaderAccess& WindowsBackend::readers() { return parts_->readers; }
Volumes& WindowsBackend::volumes() { return parts_->volumes; }

} // namespace tarvix::platform::windows
