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
// A receiver's camera interface is named after its instance name, with this
// after it: the video-camera class and the reference string.
constexpr wchar_t kCameraInterfaceEnd[] = L"#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring InstanceKey(const wchar_t* instanceName) {
  return L"CLSID\\" + GuidText(CLSID_VideoInputDeviceCategory) + L"\\Instance\\" + instanceName;
}

bool RegisterThroughMapper(const VirtualReceiver& receiver) {
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
  return SUCCEEDED(mapper->RegisterFilter(receiver.clsid, kFriendlyName, moniker.Put(),
                                          &CLSID_VideoInputDeviceCategory, receiver.instanceName, &filter));
}

bool IsListed(const VirtualReceiver& receiver) {
  return static_cast<bool>(RegistryKey(InstanceKey(receiver.instanceName), KEY_READ, false));
}

bool ListInCategory(const VirtualReceiver& receiver) {
  // The device interface that a device's moniker names goes in first, so
  // that whoever lists the receiver finds its USB device too.
  std::wstring devicePath;
  const bool placed = PlaceInDeviceTree(receiver, true, devicePath) &&
                      RegistryKey(InstanceKey(receiver.instanceName), KEY_WRITE, true).SetString(L"DevicePath", devicePath);
  if (RegisterThroughMapper(receiver) && IsListed(receiver)) return placed;
  const RegistryKey key(InstanceKey(receiver.instanceName), KEY_WRITE, true);
  return key.SetString(L"CLSID", GuidText(receiver.clsid)) && key.SetString(L"FriendlyName", kFriendlyName) &&
         placed;
}

void RemoveFromCategory(const VirtualReceiver& receiver) {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, InstanceKey(receiver.instanceName).c_str());
  std::wstring devicePath;
  PlaceInDeviceTree(receiver, false, devicePath);
}

// WM_DEVICECHANGE with DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE and the
// receiver's camera interface, sent to every top-level window and waited for
// (bounded), as the system does.
void BroadcastDeviceNotice(const VirtualReceiver& receiver, bool arrival) {
  const std::wstring interfaceName = L"\\\\?\\" + std::wstring(receiver.instanceName) + kCameraInterfaceEnd;
  const std::size_t nameBytes = (interfaceName.size() + 1) * sizeof(wchar_t);
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<unsigned char> notice(nameOffset + nameBytes);
  DEV_BROADCAST_DEVICEINTERFACE_W header{};
  header.dbcc_size = static_cast<DWORD>(notice.size());
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  header.dbcc_classguid = app::kVideoCameraCategory;
  std::memcpy(notice.data(), &header, nameOffset);
  std::memcpy(notice.data() + nameOffset, interfaceName.c_str(), nameBytes);

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

}  // namespace

bool IsThere(const VirtualReceiver& receiver, const ReceiverRecord& record, std::int64_t nowMs) {
  if (!record.Present(nowMs)) return false;
  if (receiver.number == kReceiverDevice.number) return true;
  const ReceiverLock first(kReceiverDevice);
  return first.Held() && first.Load().Has("second-receiver");
}

bool SyncListing(const VirtualReceiver& receiver) {
  bool listed = false;
  bool changed = false;
  {
    const ReceiverLock lock(receiver);
    if (!lock.Held()) return false;
    listed = IsThere(receiver, lock.Load(), NowMs());
    changed = IsListed(receiver) != listed;
    if (listed) {
      ListInCategory(receiver);
    } else {
      RemoveFromCategory(receiver);
    }
  }
  // Outside the lock: the windows told may well ask the receiver at once.
  if (changed) BroadcastDeviceNotice(receiver, listed);
  return true;
}

bool SyncListings() {
  bool synced = true;
  for (const VirtualReceiver* receiver : kReceivers) synced = SyncListing(*receiver) && synced;
  return synced;
}

void Unlist(const VirtualReceiver& receiver) {
  const bool wasListed = IsListed(receiver);
  RemoveFromCategory(receiver);
  if (wasListed) BroadcastDeviceNotice(receiver, false);
}

}  // namespace nerova::sim::virtual_receiver
