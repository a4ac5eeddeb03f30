#include "sim/virtual/device_presence.h"

#include <windows.h>
#include <dbt.h>
#include <dshow.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "app/video_camera_class.h"
#include "link/win/com_ptr.h"
#include "sim/virtual/registry_key.h"
#include "sim/virtual/shared_receiver.h"
#include "sim/virtual/usb_device_nodes.h"
#include "ui/handles.h"

namespace nerova::sim::virtual_receiver {
namespace {

constexpr DWORD kNoticeTimeoutMs = 5000;
constexpr wchar_t kInterfaceName[] =
    L"\\\\?\\usb#vid_1d6b&pid_010c&mi_00#nerova-virtual-receiver#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring InstanceKey(const wchar_t* instanceName) {
  return L"CLSID\\" + GuidText(CLSID_VideoInputDeviceCategory) + L"\\Instance\\" + instanceName;
}

bool RegisterThroughMapper(const wchar_t* instanceName) {
  // COM for the filter mapper, whatever the calling thread already has.
  ui::ComApartment apartment;
  link::win::ComPtr<IFilterMapper2> mapper;
  if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                              reinterpret_cast<void**>(mapper.Put())))) {
    return false;
  }
  REGFILTER2 filter{};
  filter.dwVersion = 1;
  filter.dwMerit = MERIT_DO_NOT_USE;
  filter.cPins = 0;
  link::win::ComPtr<IMoniker> moniker;
  return SUCCEEDED(mapper->RegisterFilter(kVirtualReceiverClsid, kFriendlyName, moniker.Put(),
                                          &CLSID_VideoInputDeviceCategory, instanceName, &filter));
}

}  // namespace

bool IsListed(const wchar_t* instanceName) {
  return static_cast<bool>(RegistryKey(InstanceKey(instanceName), KEY_READ, false));
}

bool ListInCategory(const VirtualUsbDevice& receiver) {
  // The device interface that a device's moniker names goes in first, so
  // that whoever lists the receiver finds its USB device too.
  std::wstring devicePath;
  const bool placed = PlaceInDeviceTree(receiver, true, devicePath) &&
                      RegistryKey(InstanceKey(receiver.instanceName), KEY_WRITE, true).SetString(L"DevicePath", devicePath);
  if (RegisterThroughMapper(receiver.instanceName) && IsListed(receiver.instanceName)) return placed;
  const RegistryKey key(InstanceKey(receiver.instanceName), KEY_WRITE, true);
  return key.SetString(L"CLSID", GuidText(kVirtualReceiverClsid)) && key.SetString(L"FriendlyName", kFriendlyName) &&
         placed;
}

void RemoveFromCategory(const VirtualUsbDevice& receiver) {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, InstanceKey(receiver.instanceName).c_str());
  std::wstring devicePath;
  PlaceInDeviceTree(receiver, false, devicePath);
}

void BroadcastDeviceNotice(bool arrival) {
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<unsigned char> notice(nameOffset + sizeof kInterfaceName);
  DEV_BROADCAST_DEVICEINTERFACE_W header{};
  header.dbcc_size = static_cast<DWORD>(notice.size());
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  header.dbcc_classguid = app::kVideoCameraCategory;
  std::memcpy(notice.data(), &header, nameOffset);
  std::memcpy(notice.data() + nameOffset, kInterfaceName, sizeof kInterfaceName);

  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, WM_DEVICECHANGE, arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                        reinterpret_cast<LPARAM>(notice.data()), SMTO_ABORTIFHUNG, kNoticeTimeoutMs, &answer);
  }
}

void SyncListing(bool present, bool second) {
  const bool wasListed = IsListed(kInstanceName);
  if (present) {
    ListInCategory(kReceiverDevice);
    if (second) {
      ListInCategory(kSecondReceiverDevice);
    } else {
      RemoveFromCategory(kSecondReceiverDevice);
    }
  } else {
    RemoveFromCategory(kReceiverDevice);
    RemoveFromCategory(kSecondReceiverDevice);
  }
  if (wasListed != present) BroadcastDeviceNotice(present);
}

}  // namespace nerova::sim::virtual_receiver
