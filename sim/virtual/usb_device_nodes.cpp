#include "sim/virtual/usb_device_nodes.h"

#include <windows.h>

#include <initguid.h>

#include <devguid.h>
#include <devpkey.h>
#include <setupapi.h>

#include <array>
#include <vector>

#include "sim/virtual/registry_key.h"

#if defined(__MINGW32__)
// Windows' setupapi.h declares it; mingw-w64's does not.
extern "C" WINSETUPAPI BOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*,
                                                             DEVPROPTYPE, PBYTE, DWORD, DWORD);
#endif

namespace nerova::sim::virtual_receiver {
namespace {

constexpr wchar_t kDeviceId[] = L"USB\\VID_1D6B&PID_010C\\";
constexpr wchar_t kFunctionId[] = L"USB\\VID_1D6B&PID_010C&MI_00\\";
constexpr wchar_t kReference[] = L"global";

// KSCATEGORY_CAPTURE and KSCATEGORY_VIDEO: a video capture device has both;
// the first is what its moniker names.
constexpr std::array<GUID, 2> kInterfaceClasses = {{
    {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
    {0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
}};

class DeviceInfoSet {
 public:
  DeviceInfoSet() : m_set(SetupDiCreateDeviceInfoList(nullptr, nullptr)) {}
  ~DeviceInfoSet() {
    if (m_set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(m_set);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  explicit operator bool() const { return m_set != INVALID_HANDLE_VALUE; }
  HDEVINFO Get() const { return m_set; }

 private:
  HDEVINFO m_set;
};

// The device node `id`, registered now unless it already was.
bool OpenOrRegister(HDEVINFO set, const std::wstring& id, const GUID& setupClass, SP_DEVINFO_DATA& device) {
  device = {};
  device.cbSize = sizeof device;
  if (SetupDiOpenDeviceInfoW(set, id.c_str(), nullptr, 0, &device)) return true;
  return SetupDiCreateDeviceInfoW(set, id.c_str(), &setupClass, kFriendlyName, nullptr, 0, &device) &&
         SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
}

// `value` holds its terminators: one for a string, two for a string list.
bool SetProperty(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& key, DEVPROPTYPE type,
                 std::wstring value) {
  return SetupDiSetDevicePropertyW(set, &device, &key, type, reinterpret_cast<PBYTE>(value.data()),
                                   static_cast<DWORD>(value.size() * sizeof(wchar_t)), 0);
}

bool InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& entry, std::wstring& path) {
  std::vector<DWORD> storage(512);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(set, &entry, detail, static_cast<DWORD>(storage.size() * sizeof(DWORD)),
                                        nullptr, nullptr)) {
    return false;
  }
  path = detail->DevicePath;
  return true;
}

// Present or not, as the kernel marks an interface its driver enabled: the
// "Linked" value under the interface's key, which SetupDi's DIGCF_PRESENT
// looks at (...\DeviceClasses\{class}\##?#<path's middle>\#<reference>\Control).
bool MarkPresent(const GUID& interfaceClass, const std::wstring& path, bool present) {
  std::array<wchar_t, 40> classText{};
  if (StringFromGUID2(interfaceClass, classText.data(), static_cast<int>(classText.size())) == 0) return false;
  const std::size_t referenceAt = path.find(L'\\', 4);
  if (path.size() < 4 || referenceAt == std::wstring::npos) return false;
  const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\") + classText.data() +
                           L"\\##?#" + path.substr(4, referenceAt - 4) + L"\\#" + path.substr(referenceAt + 1) +
                           L"\\Control";
  return RegistryKey(HKEY_LOCAL_MACHINE, key, KEY_WRITE, true).SetDword(L"Linked", present ? 1 : 0);
}

}  // namespace

bool PlaceInDeviceTree(const VirtualUsbDevice& receiver, bool present, std::wstring& capturePath) {
  capturePath.clear();
  const DeviceInfoSet set;
  if (!set) return false;
  const std::wstring deviceId = kDeviceId + std::wstring(receiver.serial);
  SP_DEVINFO_DATA device{};
  if (!OpenOrRegister(set.Get(), deviceId, GUID_DEVCLASS_USB, device) ||
      !SetProperty(set.Get(), device, DEVPKEY_Device_LocationPaths, DEVPROP_TYPE_STRING_LIST,
                   std::wstring(receiver.locationPath) + L'\0' + L'\0') ||
      !SetProperty(set.Get(), device, DEVPKEY_Device_LocationInfo, DEVPROP_TYPE_STRING,
                   std::wstring(receiver.locationInformation) + L'\0')) {
    return false;
  }
  SP_DEVINFO_DATA function{};
  if (!OpenOrRegister(set.Get(), kFunctionId + std::wstring(receiver.functionInstance), GUID_DEVCLASS_CAMERA,
                      function) ||
      !SetProperty(set.Get(), function, DEVPKEY_Device_Parent, DEVPROP_TYPE_STRING, deviceId + L'\0')) {
    return false;
  }
  for (const GUID& interfaceClass : kInterfaceClasses) {
    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof entry;
    std::wstring path;
    if (!SetupDiCreateDeviceInterfaceW(set.Get(), &function, &interfaceClass, kReference, 0, &entry) ||
        !InterfacePath(set.Get(), entry, path) || !MarkPresent(interfaceClass, path, present)) {
      return false;
    }
    if (capturePath.empty()) capturePath = path;
  }
  return true;
}

}  // namespace nerova::sim::virtual_receiver
