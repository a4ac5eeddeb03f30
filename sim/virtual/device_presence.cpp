#include "sim/virtual/device_presence.h"

#include <windows.h>
#include <dbt.h>
#include <dshow.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "app/video_camera_class.h"
#include "sim/virtual/shared_receiver.h"

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

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// COM for the filter mapper, whatever the calling thread already has.
class ComScope {
 public:
  ComScope() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(m_hr)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT m_hr;
};

bool RegisterThroughMapper(const wchar_t* instanceName) {
  ComScope com;
  IFilterMapper2* mapper = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                              reinterpret_cast<void**>(&mapper)))) {
    return false;
  }
  REGFILTER2 filter{};
  filter.dwVersion = 1;
  filter.dwMerit = MERIT_DO_NOT_USE;
  filter.cPins = 0;
  IMoniker* moniker = nullptr;
  const HRESULT hr = mapper->RegisterFilter(kVirtualReceiverClsid, kFriendlyName, &moniker,
                                            &CLSID_VideoInputDeviceCategory, instanceName, &filter);
  if (moniker) moniker->Release();
  mapper->Release();
  return SUCCEEDED(hr);
}

}  // namespace

bool IsListed(const wchar_t* instanceName) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, InstanceKey(instanceName).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

bool ListInCategory(const wchar_t* instanceName) {
  if (RegisterThroughMapper(instanceName) && IsListed(instanceName)) return true;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, InstanceKey(instanceName).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool ok = SetString(key, L"CLSID", GuidText(kVirtualReceiverClsid)) && SetString(key, L"FriendlyName", kFriendlyName);
  RegCloseKey(key);
  return ok;
}

void RemoveFromCategory(const wchar_t* instanceName) {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, InstanceKey(instanceName).c_str());
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
    ListInCategory(kInstanceName);
    if (second) {
      ListInCategory(kSecondInstanceName);
    } else {
      RemoveFromCategory(kSecondInstanceName);
    }
  } else {
    RemoveFromCategory(kInstanceName);
    RemoveFromCategory(kSecondInstanceName);
  }
  if (wasListed != present) BroadcastDeviceNotice(present);
}

}  // namespace nerova::sim::virtual_receiver
