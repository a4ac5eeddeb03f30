#include "link/win/directshow_capture_stack.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "link/ks_request.h"
#include "link/win/com_ptr.h"
#include "link/win/ks_topology_info.h"
#include "link/win/win_guid.h"

namespace nerova::link::win {
namespace {

// The portable core builds node requests byte by byte; they must be KSP_NODE.
static_assert(sizeof(KSP_NODE) == kKsNodeRequestSize);
static_assert(offsetof(KSP_NODE, NodeId) == 24 && offsetof(KSP_NODE, Reserved) == 28);

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

class KsNodeControl final : public NodeControl {
 public:
  explicit KsNodeControl(ComPtr<IKsControl> control) : m_control(std::move(control)) {}

  HResult KsProperty(const void* property, std::uint32_t propertyLength, void* data,
                     std::uint32_t dataLength, std::uint32_t& bytesReturned) override {
    bytesReturned = 0;
    // KsProperty takes the request as writable memory; hand it a copy so the
    // caller's request stays as it was built.
    KSP_NODE request{};
    if (!property || propertyLength > sizeof request) return E_INVALIDARG;
    std::memcpy(&request, property, propertyLength);
    ULONG returned = 0;
    const HRESULT hr = m_control->KsProperty(reinterpret_cast<PKSPROPERTY>(&request),
                                             propertyLength, data, dataLength, &returned);
    bytesReturned = returned;
    return hr;
  }

 private:
  ComPtr<IKsControl> m_control;
};

class KsTopology final : public Topology {
 public:
  explicit KsTopology(ComPtr<IKsTopologyInfo> topology) : m_topology(std::move(topology)) {}

  HResult GetNumNodes(std::uint32_t& count) override {
    DWORD nodes = 0;
    const HRESULT hr = m_topology->get_NumNodes(&nodes);
    count = SUCCEEDED(hr) ? nodes : 0;
    return hr;
  }

  HResult GetNodeType(std::uint32_t node, Guid& type) override {
    GUID nodeType{};
    const HRESULT hr = m_topology->get_NodeType(node, &nodeType);
    type = SUCCEEDED(hr) ? FromWinGuid(nodeType) : Guid{};
    return hr;
  }

  HResult CreateNodeControl(std::uint32_t node, std::unique_ptr<NodeControl>& out) override {
    out.reset();
    const GUID iid = ToWinGuid(IID_IKsControl);
    ComPtr<IKsControl> control;
    const HRESULT hr = m_topology->CreateNodeInstance(node, iid, control.PutVoid());
    if (FAILED(hr)) return hr;
    if (!control) return E_NOINTERFACE;
    out.reset(new (std::nothrow) KsNodeControl(std::move(control)));
    return out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ComPtr<IKsTopologyInfo> m_topology;
};

// Each reference of this object is one COM reference to the filter, so the
// filter's own count shows every holder; the object goes with its last one.
class DirectShowFilter final : public CaptureFilter {
 public:
  // Takes over one reference to `filter`.
  explicit DirectShowFilter(IBaseFilter* filter) : m_filter(filter) {}

  void AddRef() override {
    m_filter->AddRef();
    ++m_refs;
  }

  void Release() override {
    IBaseFilter* filter = m_filter;
    if (--m_refs == 0) delete this;
    filter->Release();
  }

  HResult QueryTopology(std::unique_ptr<Topology>& out) override {
    out.reset();
    const GUID iid = ToWinGuid(IID_IKsTopologyInfo);
    ComPtr<IKsTopologyInfo> topology;
    const HRESULT hr = m_filter->QueryInterface(iid, topology.PutVoid());
    if (FAILED(hr)) return hr;
    if (!topology) return E_NOINTERFACE;
    out.reset(new (std::nothrow) KsTopology(std::move(topology)));
    return out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~DirectShowFilter() override = default;

  IBaseFilter* m_filter;
  unsigned long m_refs = 1;
};

class DirectShowMoniker final : public DeviceMoniker {
 public:
  explicit DirectShowMoniker(ComPtr<IMoniker> moniker) : m_moniker(std::move(moniker)) {}

  HResult GetDisplayName(std::wstring& name) override {
    name.clear();
    TaskMemString text;
    const HRESULT hr = m_moniker->GetDisplayName(nullptr, nullptr, text.Put());
    if (FAILED(hr)) return hr;
    if (!text.Get()) return E_POINTER;
    name = text.Get();
    return S_OK;
  }

  HResult BindToFilter(FilterRef& out) override {
    out.Reset();
    const GUID iid = ToWinGuid(IID_IBaseFilter);
    ComPtr<IBaseFilter> filter;
    const HRESULT hr = m_moniker->BindToObject(nullptr, nullptr, iid, filter.PutVoid());
    if (FAILED(hr)) return hr;
    if (!filter) return E_NOINTERFACE;
    auto* wrapped = new (std::nothrow) DirectShowFilter(filter.Get());
    if (!wrapped) return E_OUTOFMEMORY;
    filter.Detach();  // the wrapper holds this reference now
    out = FilterRef::Adopt(wrapped);
    return S_OK;
  }

 private:
  ComPtr<IMoniker> m_moniker;
};

class DirectShowEnumeration final : public DeviceEnumeration {
 public:
  explicit DirectShowEnumeration(ComPtr<IEnumMoniker> monikers) : m_monikers(std::move(monikers)) {}

  HResult Next(std::unique_ptr<DeviceMoniker>& out) override {
    out.reset();
    ComPtr<IMoniker> moniker;
    ULONG fetched = 0;
    const HRESULT hr = m_monikers->Next(1, moniker.Put(), &fetched);
    if (hr != S_OK) return hr;
    if (!moniker) return E_POINTER;
    out.reset(new (std::nothrow) DirectShowMoniker(std::move(moniker)));
    return out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ComPtr<IEnumMoniker> m_monikers;
};

}  // namespace

HRESULT CreateSystemDeviceEnumerator(ICreateDevEnum** out) {
  const GUID clsid = ToWinGuid(CLSID_SystemDeviceEnum);
  const GUID iid = ToWinGuid(IID_ICreateDevEnum);
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, iid,
                          reinterpret_cast<void**>(out));
}

DirectShowCaptureStack::DirectShowCaptureStack()
    : DirectShowCaptureStack(CreateSystemDeviceEnumerator,
                             [](const wchar_t* text) { OutputDebugStringW(text); }) {}

DirectShowCaptureStack::DirectShowCaptureStack(CreateDevEnumFn createDevEnum,
                                               DebugOutputFn debugOutput)
    : m_createDevEnum(std::move(createDevEnum)), m_debugOutput(std::move(debugOutput)) {}

HResult DirectShowCaptureStack::EnumerateVideoInputs(std::unique_ptr<DeviceEnumeration>& out) {
  out.reset();
  ComPtr<ICreateDevEnum> devEnum;
  HRESULT hr = m_createDevEnum(devEnum.Put());
  if (FAILED(hr)) return hr;
  if (!devEnum) return E_NOINTERFACE;

  const GUID category = ToWinGuid(CLSID_VideoInputDeviceCategory);
  ComPtr<IEnumMoniker> monikers;
  hr = devEnum->CreateClassEnumerator(category, monikers.Put(), 0);
  if (FAILED(hr)) return hr;
  // S_FALSE and no enumerator: the category has no devices.
  if (hr != S_OK || !monikers) return S_FALSE;

  out.reset(new (std::nothrow) DirectShowEnumeration(std::move(monikers)));
  return out ? S_OK : E_OUTOFMEMORY;
}

void DirectShowCaptureStack::DebugOutput(const wchar_t* text) {
  if (m_debugOutput) m_debugOutput(text);
}

}  // namespace nerova::link::win
