#include "link/win/directshow_capture_stack.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

#include "link/win/com_ptr.h"
#include "link/win/ks_request.h"
#include "link/win/ks_topology_info.h"
#include "link/win/usb_device_identity.h"
#include "link/win/win_guid.h"

namespace nerova::link::win {
namespace {

// The node requests are built byte by byte; they must be KSP_NODE.
static_assert(sizeof(KSP_NODE) == kKsNodeRequestSize);
static_assert(offsetof(KSP_NODE, NodeId) == 24 && offsetof(KSP_NODE, Reserved) == 28);

// HRESULT_FROM_WIN32, usable in constant expressions.
constexpr HRESULT FromWin32(unsigned long error) {
  return static_cast<HRESULT>((error & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}
constexpr HRESULT kMoreData = FromWin32(ERROR_MORE_DATA);

// A display name from IMoniker::GetDisplayName, freed through the COM task
// allocator of the process (CoGetMalloc with context 1).
class TaskMemString {
 public:
  TaskMemString() = default;
  TaskMemString(const TaskMemString&) = delete;
  TaskMemString& operator=(const TaskMemString&) = delete;
  ~TaskMemString() {
    if (!m_p) return;
    ComPtr<IMalloc> allocator;
    if (SUCCEEDED(CoGetMalloc(1, allocator.Put())) && allocator) allocator->Free(m_p);
  }
  LPOLESTR* Put() { return &m_p; }
  const wchar_t* Get() const { return m_p; }

 private:
  LPOLESTR m_p = nullptr;
};

// A VARIANT cleared when it goes.
class Variant {
 public:
  Variant() { VariantInit(&m_value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&m_value); }
  VARIANT* Get() { return &m_value; }

 private:
  VARIANT m_value;
};

// The device interface that a device's moniker names as its "DevicePath".
HRESULT DevicePathOf(IMoniker& moniker, std::wstring& path) {
  path.clear();
  const GUID iid = ToWinGuid(IID_IPropertyBag);
  ComPtr<IPropertyBag> properties;
  HRESULT hr = moniker.BindToStorage(nullptr, nullptr, iid, properties.PutVoid());
  if (FAILED(hr)) return hr;
  if (!properties) return E_NOINTERFACE;
  Variant value;
  value.Get()->vt = VT_BSTR;
  hr = properties->Read(L"DevicePath", value.Get(), nullptr);
  if (FAILED(hr)) return hr;
  if (value.Get()->vt != VT_BSTR || !value.Get()->bstrVal) return DISP_E_TYPEMISMATCH;
  path = value.Get()->bstrVal;
  return S_OK;
}

std::wstring HresultText(HRESULT hr) {
  std::array<wchar_t, 16> text{};
  std::swprintf(text.data(), text.size(), L"0x%08lX", static_cast<unsigned long>(hr));
  return text.data();
}

// One KSP_NODE property call. KsProperty takes the request as writable
// memory; it gets a copy so the built request stays as it was.
HRESULT NodeProperty(IKsControl& control, const KsNodeRequest& built, void* data, ULONG dataLength,
                     ULONG& returned) {
  KsNodeRequest request = built;
  returned = 0;
  return control.KsProperty(reinterpret_cast<PKSPROPERTY>(request.data()), kKsNodeRequestSize, data, dataLength,
                            &returned);
}

// The unit-information query: does this node carry the unit with property
// set `unit`? Only the answer's GUID counts, not the request's result,
// because that is what identifies the unit.
bool NodeCarriesUnit(IKsControl& control, DWORD node, const Guid& unit) {
  std::array<std::uint8_t, 32> answer{};
  ULONG returned = 0;
  NodeProperty(control, NodeGetRequest(unit, kUnitInfoProperty, node), answer.data(),
               static_cast<ULONG>(answer.size()), returned);
  return std::memcmp(answer.data(), unit.bytes.data(), unit.bytes.size()) == 0;
}

// The walk over a filter's nodes for the nodes that carry one unit, from a
// given node on. With UnitSearch::ExtensionUnits only KSNODETYPE_DEV_SPECIFIC
// nodes are opened, and one that will not open ends the walk with its
// result; with EveryEntity every node is asked and one that will not open
// rules out the device.
class NodeWalk {
 public:
  NodeWalk(ComPtr<IKsTopologyInfo> topology, DWORD nodes, const Guid& unit, UnitSearch search)
      : m_topology(std::move(topology)), m_nodes(nodes), m_unit(unit), m_search(search) {}

  // The next node carrying the unit: its control in `control`, its index in `node`.
  LinkStatus Next(ComPtr<IKsControl>& control, DWORD& node) {
    control.Reset();
    while (m_next < m_nodes) {
      const DWORD candidate = m_next++;
      if (m_search == UnitSearch::ExtensionUnits) {
        GUID type{};
        if (FAILED(m_topology->get_NodeType(candidate, &type)) || FromWinGuid(type) != KSNODETYPE_DEV_SPECIFIC) {
          continue;
        }
      }
      const GUID iid = ToWinGuid(IID_IKsControl);
      ComPtr<IKsControl> opened;
      const HRESULT hr = m_topology->CreateNodeInstance(candidate, iid, opened.PutVoid());
      if (FAILED(hr) || !opened) {
        m_next = m_nodes;
        if (m_search == UnitSearch::EveryEntity) return LinkStatus::Of(StatusKind::NotFound, hr);
        return StatusOf(FAILED(hr) ? hr : E_NOINTERFACE);
      }
      if (!NodeCarriesUnit(*opened.Get(), candidate, m_unit)) continue;
      control = std::move(opened);
      node = candidate;
      return LinkStatus::Success();
    }
    return LinkStatus::Of(StatusKind::NotFound);
  }

  const Guid& Unit() const { return m_unit; }

 private:
  ComPtr<IKsTopologyInfo> m_topology;
  DWORD m_nodes;
  DWORD m_next = 0;
  Guid m_unit;
  UnitSearch m_search;
};

// An extension unit found on a node. Holds a reference to the filter of its
// own for as long as it lives. A query the node refuses goes on to the next
// node that carries the same unit, if any, and is asked there again; the
// last refusal is what the caller sees.
class KsExtensionUnit final : public ExtensionUnit {
 public:
  KsExtensionUnit(ComPtr<IBaseFilter> filter, NodeWalk walk, ComPtr<IKsControl> control, DWORD node)
      : m_filter(std::move(filter)), m_walk(std::move(walk)), m_control(std::move(control)), m_node(node) {}

  LinkStatus Query(std::uint8_t selector, UvcRequest request, std::uint8_t* data, std::uint32_t size,
                   std::uint32_t& transferred) override {
    for (;;) {
      const LinkStatus status = QueryNode(selector, request, data, size, transferred);
      if (status.Ok()) return status;
      ComPtr<IKsControl> next;
      DWORD node = 0;
      const LinkStatus moved = m_walk.Next(next, node);
      if (moved.kind == StatusKind::NotFound) return status;
      if (!moved.Ok()) return moved;
      m_control = std::move(next);
      m_node = node;
    }
  }

 private:
  LinkStatus QueryNode(std::uint8_t selector, UvcRequest request, std::uint8_t* data, std::uint32_t size,
                       std::uint32_t& transferred) {
    transferred = 0;
    ULONG returned = 0;
    const Guid& set = m_walk.Unit();
    switch (request) {
      case UvcRequest::SetCur: {
        const HRESULT hr = NodeProperty(*m_control.Get(), NodeSetRequest(set, selector, m_node), data, size, returned);
        if (hr == S_OK) transferred = size;
        return StatusOf(hr);
      }
      case UvcRequest::GetCur: {
        const HRESULT hr = NodeProperty(*m_control.Get(), NodeGetRequest(set, selector, m_node), data, size, returned);
        if (hr == S_OK) transferred = returned;
        return StatusOf(hr);
      }
      case UvcRequest::GetLen: {
        // The video-class driver answers a GET without a buffer with
        // ERROR_MORE_DATA and the control's length; one that succeeds
        // outright is believed for the length it names.
        if (size < 2) return StatusOf(FromWin32(ERROR_INSUFFICIENT_BUFFER));
        const HRESULT hr = NodeProperty(*m_control.Get(), NodeGetRequest(set, selector, m_node), nullptr, 0, returned);
        if (hr != kMoreData && hr != S_OK) return StatusOf(hr);
        data[0] = static_cast<std::uint8_t>(returned);
        data[1] = static_cast<std::uint8_t>(returned >> 8);
        transferred = 2;
        return LinkStatus::Success();
      }
      case UvcRequest::GetInfo: {
        // What the driver says the property supports: GET and SET become
        // the capability bits D0 and D1.
        if (size < 1) return StatusOf(FromWin32(ERROR_INSUFFICIENT_BUFFER));
        KSPROPERTY_DESCRIPTION description{};
        const KsNodeRequest basic = BuildKsNodeRequest(
            set, selector, kKsPropertyTypeBasicSupport | kKsPropertyTypeTopology, m_node);
        const HRESULT hr = NodeProperty(*m_control.Get(), basic, &description, sizeof description, returned);
        if (hr != S_OK) return StatusOf(hr);
        data[0] = static_cast<std::uint8_t>(((description.AccessFlags & KSPROPERTY_TYPE_GET) ? 0x01 : 0) |
                                            ((description.AccessFlags & KSPROPERTY_TYPE_SET) ? 0x02 : 0));
        transferred = 1;
        return LinkStatus::Success();
      }
    }
    return StatusOf(E_INVALIDARG);
  }

  ComPtr<IBaseFilter> m_filter;
  NodeWalk m_walk;
  ComPtr<IKsControl> m_control;
  DWORD m_node;
};

class DirectShowDevice final : public VideoDevice {
 public:
  explicit DirectShowDevice(ComPtr<IBaseFilter> filter) : m_filter(std::move(filter)) {}

  LinkStatus FindExtensionUnit(const Guid& unit, UnitSearch search, std::unique_ptr<ExtensionUnit>& out) override {
    out.reset();
    // A reference of the walk's own, kept by the unit it finds.
    ComPtr<IBaseFilter> filter = m_filter.Share();
    const GUID iid = ToWinGuid(IID_IKsTopologyInfo);
    ComPtr<IKsTopologyInfo> topology;
    const HRESULT hr = filter->QueryInterface(iid, topology.PutVoid());
    if (FAILED(hr) || !topology) return StatusOf(FAILED(hr) ? hr : E_NOINTERFACE);
    DWORD nodes = 0;
    if (const HRESULT counted = topology->get_NumNodes(&nodes); FAILED(counted)) return StatusOf(counted);

    NodeWalk walk(std::move(topology), nodes, unit, search);
    ComPtr<IKsControl> control;
    DWORD node = 0;
    if (const LinkStatus status = walk.Next(control, node); !status.Ok()) return status;
    out.reset(new (std::nothrow) KsExtensionUnit(std::move(filter), std::move(walk), std::move(control), node));
    return out ? LinkStatus::Success() : StatusOf(E_OUTOFMEMORY);
  }

 private:
  ComPtr<IBaseFilter> m_filter;
};

class DirectShowInput final : public VideoInput {
 public:
  DirectShowInput(ComPtr<IMoniker> moniker, DebugOutputFn debugOutput)
      : m_moniker(std::move(moniker)), m_debugOutput(std::move(debugOutput)) {}

  LinkStatus Name(VideoInputName& out) override {
    out = {};
    TaskMemString text;
    const HRESULT hr = m_moniker->GetDisplayName(nullptr, nullptr, text.Put());
    if (FAILED(hr)) return StatusOf(hr);
    if (!text.Get()) return StatusOf(E_POINTER);
    // The name is examined whole, however long: a fixed copy would cut a
    // long name and could hide the identity at its end.
    out.displayName = text.Get();
    out.usb = UsbIdentityInName(out.displayName);
    // Only a USB device has a USB identity to look for. Without it the
    // input is still named: its serial number and port stay unknown.
    if (!out.usb) return LinkStatus::Success();
    std::wstring devicePath;
    if (const HRESULT hr = DevicePathOf(*m_moniker.Get(), devicePath); FAILED(hr)) {
      Tell(L"The DevicePath of " + out.displayName + L" could not be read (" + HresultText(hr) + L").\r\n");
      return LinkStatus::Success();
    }
    std::wstring problem;
    UsbDeviceIdentity identity = UsbDeviceIdentityOf(devicePath, problem);
    out.serial = std::move(identity.serial);
    out.port = std::move(identity.port);
    if (!problem.empty()) Tell(L"The USB device of " + devicePath + L" is not fully known: " + problem + L".\r\n");
    return LinkStatus::Success();
  }

  LinkStatus Open(DeviceRef& out) override {
    out.reset();
    const GUID iid = ToWinGuid(IID_IBaseFilter);
    ComPtr<IBaseFilter> filter;
    const HRESULT hr = m_moniker->BindToObject(nullptr, nullptr, iid, filter.PutVoid());
    if (FAILED(hr)) return StatusOf(hr);
    if (!filter) return StatusOf(E_NOINTERFACE);
    auto* device = new (std::nothrow) DirectShowDevice(std::move(filter));
    if (!device) return StatusOf(E_OUTOFMEMORY);
    out.reset(device);
    return LinkStatus::Success();
  }

 private:
  void Tell(const std::wstring& line) const {
    if (m_debugOutput) m_debugOutput(line.c_str());
  }

  ComPtr<IMoniker> m_moniker;
  DebugOutputFn m_debugOutput;
};

class DirectShowInputList final : public VideoInputList {
 public:
  DirectShowInputList(ComPtr<IEnumMoniker> monikers, DebugOutputFn debugOutput)
      : m_monikers(std::move(monikers)), m_debugOutput(std::move(debugOutput)) {}

  // One moniker per IEnumMoniker::Next; anything but S_OK ends the list.
  bool Next(std::unique_ptr<VideoInput>& out) override {
    out.reset();
    ComPtr<IMoniker> moniker;
    ULONG fetched = 0;
    if (m_monikers->Next(1, moniker.Put(), &fetched) != S_OK || !moniker) return false;
    out.reset(new (std::nothrow) DirectShowInput(std::move(moniker), m_debugOutput));
    return out != nullptr;
  }

 private:
  ComPtr<IEnumMoniker> m_monikers;
  DebugOutputFn m_debugOutput;
};

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

// Four lower-case hexadecimal digits at `at`.
std::optional<std::uint16_t> Hex4(std::wstring_view text, std::size_t at) {
  if (at + 4 > text.size()) return std::nullopt;
  unsigned value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<unsigned>(digit);
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

LinkStatus StatusOf(HRESULT hr) {
  switch (hr) {
    case S_OK:
      return LinkStatus::Success();
    case E_ACCESSDENIED:
      return LinkStatus::Of(StatusKind::AccessDenied, hr);
    case FromWin32(ERROR_DEVICE_NOT_CONNECTED):
    case FromWin32(ERROR_DEV_NOT_EXIST):
      return LinkStatus::Of(StatusKind::Gone, hr);
    case FromWin32(ERROR_GEN_FAILURE):
      return LinkStatus::Of(StatusKind::Refused, hr);
    case FromWin32(ERROR_MORE_DATA):
    case FromWin32(ERROR_INSUFFICIENT_BUFFER):
      return LinkStatus::Of(StatusKind::WrongLength, hr);
    case FromWin32(ERROR_BUSY):
      return LinkStatus::Of(StatusKind::Busy, hr);
    case FromWin32(ERROR_NOT_FOUND):
    case FromWin32(ERROR_SET_NOT_FOUND):
      return LinkStatus::Of(StatusKind::NotFound, hr);
    case FromWin32(ERROR_NOT_SUPPORTED):
    case E_NOTIMPL:
    case E_NOINTERFACE:
      return LinkStatus::Of(StatusKind::Unsupported, hr);
    default:
      return LinkStatus::Of(StatusKind::Failed, hr);
  }
}

std::optional<UsbIdentity> UsbIdentityInName(std::wstring_view displayName) {
  for (std::size_t at = displayName.find(L"vid_"); at != std::wstring_view::npos;
       at = displayName.find(L"vid_", at + 1)) {
    const auto vendor = Hex4(displayName, at + 4);
    if (!vendor || displayName.substr(at + 8, 5) != L"&pid_") continue;
    if (const auto product = Hex4(displayName, at + 13)) return UsbIdentity{*vendor, *product};
  }
  return std::nullopt;
}

HRESULT CreateSystemDeviceEnumerator(ICreateDevEnum** out) {
  const GUID clsid = ToWinGuid(CLSID_SystemDeviceEnum);
  const GUID iid = ToWinGuid(IID_ICreateDevEnum);
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, iid,
                          reinterpret_cast<void**>(out));
}

DirectShowCaptureStack::DirectShowCaptureStack()
    : DirectShowCaptureStack(CreateSystemDeviceEnumerator, [](const wchar_t* text) { OutputDebugStringW(text); }) {}

DirectShowCaptureStack::DirectShowCaptureStack(CreateDevEnumFn createDevEnum, DebugOutputFn debugOutput)
    : m_createDevEnum(std::move(createDevEnum)), m_debugOutput(std::move(debugOutput)) {}

LinkStatus DirectShowCaptureStack::ListVideoInputs(std::unique_ptr<VideoInputList>& out) {
  out.reset();
  ComPtr<ICreateDevEnum> devEnum;
  HRESULT hr = m_createDevEnum(devEnum.Put());
  if (FAILED(hr)) return StatusOf(hr);
  if (!devEnum) return StatusOf(E_NOINTERFACE);

  const GUID category = ToWinGuid(CLSID_VideoInputDeviceCategory);
  ComPtr<IEnumMoniker> monikers;
  hr = devEnum->CreateClassEnumerator(category, monikers.Put(), 0);
  if (FAILED(hr)) return StatusOf(hr);
  // S_FALSE and no enumerator: the category has no devices.
  if (hr != S_OK || !monikers) return LinkStatus::Success();

  out.reset(new (std::nothrow) DirectShowInputList(std::move(monikers), m_debugOutput));
  return out ? LinkStatus::Success() : StatusOf(E_OUTOFMEMORY);
}

void DirectShowCaptureStack::DebugOutput(const wchar_t* text) {
  if (m_debugOutput) m_debugOutput(text);
}

}  // namespace nerova::link::win
