#include "link/win/usb_device_identity.h"

#include <windows.h>

#include <initguid.h>

#include <devpkey.h>
#include <setupapi.h>

#include <array>
#include <string_view>
#include <vector>

namespace nerova::link::win {
namespace {

// The interface classes of the devices that DirectShow lists as video
// inputs (they are in both); the moniker names an interface of one of them.
constexpr std::array<GUID, 2> kVideoInputInterfaceClasses = {{
    // KSCATEGORY_CAPTURE
    {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
    // KSCATEGORY_VIDEO
    {0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
}};

class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : m_set(set) {}
  ~DeviceInfoSet() {
    if (Valid()) SetupDiDestroyDeviceInfoList(m_set);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

  bool Valid() const { return m_set != INVALID_HANDLE_VALUE; }
  HDEVINFO Get() const { return m_set; }

 private:
  HDEVINFO m_set;
};

// A call the system refused, with its error; none when `call` is null.
struct Refusal {
  const wchar_t* call = nullptr;
  DWORD error = ERROR_SUCCESS;
  explicit operator bool() const { return call != nullptr; }
};

Refusal RefusedBy(const wchar_t* call) { return {call, GetLastError()}; }

std::wstring Describe(const Refusal& refusal) {
  return std::wstring(refusal.call) + L" failed with error " + std::to_wstring(refusal.error);
}

SP_DEVINFO_DATA EmptyDeviceData() {
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  return data;
}

// The path of one interface of `set` and the device it belongs to.
Refusal InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& entry, std::wstring& path, SP_DEVINFO_DATA& device) {
  DWORD size = 0;
  if (!SetupDiGetDeviceInterfaceDetailW(set, &entry, nullptr, 0, &size, nullptr) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return RefusedBy(L"SetupDiGetDeviceInterfaceDetailW");
  }
  // The detail is its size field followed by the path: DWORD-aligned storage.
  std::vector<DWORD> storage(size / sizeof(DWORD) + 2);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  device = EmptyDeviceData();
  if (!SetupDiGetDeviceInterfaceDetailW(set, &entry, detail, static_cast<DWORD>(storage.size() * sizeof(DWORD)),
                                        nullptr, &device)) {
    return RefusedBy(L"SetupDiGetDeviceInterfaceDetailW");
  }
  path = detail->DevicePath;
  return {};
}

// The device in `set` whose interface of class `interfaceClass` is `path`.
Refusal FindInterface(HDEVINFO set, const GUID& interfaceClass, const std::wstring& path, SP_DEVINFO_DATA& device,
                      bool& found) {
  found = false;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof entry;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, &entry)) {
      if (GetLastError() == ERROR_NO_MORE_ITEMS) return {};
      return RefusedBy(L"SetupDiEnumDeviceInterfaces");
    }
    std::wstring entryPath;
    if (const Refusal refusal = InterfacePath(set, entry, entryPath, device)) return refusal;
    if (CompareStringOrdinal(entryPath.c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL) {
      found = true;
      return {};
    }
  }
}

Refusal InstanceId(HDEVINFO set, SP_DEVINFO_DATA& device, std::wstring& id) {
  DWORD size = 0;
  if (!SetupDiGetDeviceInstanceIdW(set, &device, nullptr, 0, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return RefusedBy(L"SetupDiGetDeviceInstanceIdW");
  }
  std::vector<wchar_t> text(size + 1);
  if (!SetupDiGetDeviceInstanceIdW(set, &device, text.data(), static_cast<DWORD>(text.size()), nullptr)) {
    return RefusedBy(L"SetupDiGetDeviceInstanceIdW");
  }
  id = text.data();
  return {};
}

// A string property, or the first string of a string-list property; empty
// when the device has none.
Refusal FirstString(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& key, std::wstring& out) {
  out.clear();
  DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
  DWORD size = 0;
  if (!SetupDiGetDevicePropertyW(set, &device, &key, &type, nullptr, 0, &size, 0)) {
    if (GetLastError() == ERROR_NOT_FOUND) return {};
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return RefusedBy(L"SetupDiGetDevicePropertyW");
  }
  if (type != DEVPROP_TYPE_STRING && type != DEVPROP_TYPE_STRING_LIST) return {L"SetupDiGetDevicePropertyW", ERROR_INVALID_DATA};
  // Room for a terminator the value may lack.
  std::vector<wchar_t> value(size / sizeof(wchar_t) + 1);
  if (!SetupDiGetDevicePropertyW(set, &device, &key, &type, reinterpret_cast<PBYTE>(value.data()),
                                 static_cast<DWORD>(value.size() * sizeof(wchar_t)), nullptr, 0)) {
    return RefusedBy(L"SetupDiGetDevicePropertyW");
  }
  out = value.data();
  return {};
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view start) {
  return text.size() >= start.size() &&
         CompareStringOrdinal(text.data(), static_cast<int>(start.size()), start.data(),
                              static_cast<int>(start.size()), TRUE) == CSTR_EQUAL;
}

// "USB\VID_xxxx&PID_xxxx\...": a USB device itself, not one of its
// functions ("USB\VID_xxxx&PID_xxxx&MI_nn\...") and not another bus's device.
bool IsUsbDeviceId(std::wstring_view id) {
  if (!StartsWithNoCase(id, L"USB\\")) return false;
  std::wstring_view hardware = id.substr(4, id.find(L'\\', 4) - 4);
  for (std::size_t at = hardware.find(L'&'); at != std::wstring_view::npos; at = hardware.find(L'&', at + 1)) {
    if (StartsWithNoCase(hardware.substr(at), L"&MI_")) return false;
  }
  return true;
}

// The last part of a USB device's instance id is its serial number, unless
// Windows generated that part (it then holds '&').
std::wstring SerialInInstanceId(std::wstring_view id) {
  const std::wstring_view last = id.substr(id.rfind(L'\\') + 1);
  return last.find(L'&') == std::wstring_view::npos ? std::wstring(last) : std::wstring();
}

Refusal IdentityOfUsbDevice(HDEVINFO set, SP_DEVINFO_DATA& device, std::wstring_view id, UsbDeviceIdentity& out) {
  out.serial = SerialInInstanceId(id);
  if (const Refusal refusal = FirstString(set, device, DEVPKEY_Device_LocationPaths, out.port)) return refusal;
  if (!out.port.empty()) return {};
  return FirstString(set, device, DEVPKEY_Device_LocationInfo, out.port);
}

// From the video function to its USB device: the function's parent, unless
// the function is the whole device.
Refusal IdentityOfFunction(HDEVINFO set, SP_DEVINFO_DATA& function, UsbDeviceIdentity& out) {
  std::wstring functionId;
  if (const Refusal refusal = InstanceId(set, function, functionId)) return refusal;
  if (IsUsbDeviceId(functionId)) return IdentityOfUsbDevice(set, function, functionId, out);

  std::wstring parentId;
  if (const Refusal refusal = FirstString(set, function, DEVPKEY_Device_Parent, parentId)) return refusal;
  if (!IsUsbDeviceId(parentId)) return {};
  const DeviceInfoSet parents(SetupDiCreateDeviceInfoList(nullptr, nullptr));
  if (!parents.Valid()) return RefusedBy(L"SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA parent = EmptyDeviceData();
  if (!SetupDiOpenDeviceInfoW(parents.Get(), parentId.c_str(), nullptr, 0, &parent)) {
    return RefusedBy(L"SetupDiOpenDeviceInfoW");
  }
  return IdentityOfUsbDevice(parents.Get(), parent, parentId, out);
}

}  // namespace

UsbDeviceIdentity UsbDeviceIdentityOf(const std::wstring& interfacePath, std::wstring& problem) {
  problem.clear();
  UsbDeviceIdentity identity;
  for (const GUID& interfaceClass : kVideoInputInterfaceClasses) {
    const DeviceInfoSet set(SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT));
    Refusal refusal = set.Valid() ? Refusal{} : RefusedBy(L"SetupDiGetClassDevsW");
    SP_DEVINFO_DATA function = EmptyDeviceData();
    bool found = false;
    if (!refusal) refusal = FindInterface(set.Get(), interfaceClass, interfacePath, function, found);
    if (!refusal && found) refusal = IdentityOfFunction(set.Get(), function, identity);
    if (refusal) problem = Describe(refusal);
    if (refusal || found) return identity;
  }
  return identity;
}

}  // namespace nerova::link::win
