#pragma once
// COM stand-ins for the capture stack: a device enumerator, its moniker
// enumeration, monikers, capture filters, their topology and node controls.
// Every object lives in the test (the test holds its first reference) and
// counts references, so a test can check that everything the code under test
// took was given back. Node controls behave like a USB Video Class extension
// unit: the information query names the unit, control 3 holds a value.
#include <windows.h>

#include <strmif.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/guid.h"
#include "link/win/ks_request.h"
#include "link/win/ks_topology_info.h"
#include "link/win/win_guid.h"

namespace nerova::link::win::testing {

// Every fake registers here, so a test can ask whether all references are back.
class ComLedger {
 public:
  struct Entry {
    std::string name;
    const LONG* refs;
    const bool* overReleased;
  };
  void Add(std::string name, const LONG* refs, const bool* overReleased) {
    m_entries.push_back({std::move(name), refs, overReleased});
  }
  // Names of the objects whose count is not back at the test's one reference.
  std::string Unbalanced() const {
    std::string out;
    for (const Entry& e : m_entries) {
      if (*e.refs != 1 || *e.overReleased)
        out += e.name + "=" + std::to_string(*e.refs) + (*e.overReleased ? "(over-released) " : " ");
    }
    return out;
  }

 private:
  std::vector<Entry> m_entries;
};

template <class I>
class FakeCom : public I {
 public:
  FakeCom(ComLedger& ledger, std::string name, const IID& iid) : m_iid(iid) {
    ledger.Add(std::move(name), &m_refs, &m_overReleased);
  }
  virtual ~FakeCom() = default;
  FakeCom(const FakeCom&) = delete;
  FakeCom& operator=(const FakeCom&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == m_iid) {
      AddRef();
      *out = static_cast<I*>(this);
      return S_OK;
    }
    return QueryOther(riid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    // The test's own reference is never given away; dropping it is a fault.
    if (m_refs <= 1) m_overReleased = true;
    return static_cast<ULONG>(--m_refs);
  }
  LONG Refs() const { return m_refs; }

 protected:
  virtual HRESULT QueryOther(REFIID, void**) { return E_NOINTERFACE; }

 private:
  IID m_iid;
  LONG m_refs = 1;
  bool m_overReleased = false;
};

// One KsProperty call as the control saw it.
struct KsCall {
  std::vector<std::uint8_t> property;  // the request bytes, as many as its length says
  ULONG propertyLength = 0;
  bool dataNull = false;
  ULONG dataLength = 0;
  std::vector<std::uint8_t> dataIn;  // what the data buffer held on the way in

  Guid Set() const { return Field<Guid>(0); }
  std::uint32_t Id() const { return Field<std::uint32_t>(16); }
  std::uint32_t Flags() const { return Field<std::uint32_t>(20); }
  std::uint32_t NodeId() const { return Field<std::uint32_t>(24); }
  std::uint32_t Reserved() const { return Field<std::uint32_t>(28); }

 private:
  template <class T>
  T Field(std::size_t offset) const {
    T value{};
    if (property.size() >= offset + sizeof(T)) std::memcpy(&value, property.data() + offset, sizeof(T));
    return value;
  }
};

constexpr ULONG kKsGet = 0x00000001;
constexpr ULONG kKsSet = 0x00000002;
constexpr ULONG kKsTopology = 0x10000000;
const HRESULT kSetNotFound = HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);

// An extension unit's node control.
class FakeControl final : public FakeCom<IKsControl> {
 public:
  FakeControl(ComLedger& ledger, std::string name, const Guid& unit, std::size_t controlLength = 60)
      : FakeCom(ledger, std::move(name), ToWinGuid(IID_IKsControl)),
        value(controlLength, 0),
        m_unit(unit) {}

  std::vector<KsCall> calls;
  std::vector<std::uint8_t> value;  // control 3; its size is the control's length
  HRESULT setResult = S_OK;
  HRESULT readResult = S_OK;
  // What the unit-information query and the size query return (the answer
  // is written whatever the former says).
  HRESULT infoResult = S_OK;
  HRESULT sizeResult = HRESULT_FROM_WIN32(ERROR_MORE_DATA);
  // When set, a read reports this many bytes instead of the control's length.
  int answerLength = -1;
  // Runs inside every KsProperty call (to look at the world mid-request).
  std::function<void()> onProperty;

  HRESULT STDMETHODCALLTYPE KsProperty(PKSPROPERTY property, ULONG propertyLength, LPVOID data,
                                       ULONG dataLength, ULONG* bytesReturned) override {
    KsCall call;
    const auto* raw = reinterpret_cast<const std::uint8_t*>(property);
    call.property.assign(raw, raw + propertyLength);
    call.propertyLength = propertyLength;
    call.dataNull = data == nullptr;
    call.dataLength = dataLength;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (data) call.dataIn.assign(bytes, bytes + dataLength);
    calls.push_back(call);
    if (onProperty) onProperty();

    *bytesReturned = 0;
    if (call.Set() != m_unit) return kSetNotFound;
    if (call.Id() == 0 && (call.Flags() & kKsGet)) {
      if (!data || dataLength < 16) return E_INVALIDARG;
      std::memcpy(data, m_unit.bytes.data(), 16);
      *bytesReturned = 16;
      return infoResult;
    }
    if (call.Id() != 3) return kSetNotFound;
    if (call.Flags() & kKsSet) {
      if (setResult == S_OK) value.assign(bytes, bytes + dataLength);
      return setResult;
    }
    const ULONG length = static_cast<ULONG>(value.size());
    if (!data) {
      *bytesReturned = length;
      return sizeResult;
    }
    if (dataLength < length) {
      *bytesReturned = length;
      return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
    }
    if (readResult != S_OK) return readResult;
    std::memcpy(data, value.data(), length);
    *bytesReturned = answerLength >= 0 ? static_cast<ULONG>(answerLength) : length;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE KsMethod(PKSMETHOD, ULONG, LPVOID, ULONG, ULONG*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE KsEvent(PKSEVENT, ULONG, LPVOID, ULONG, ULONG*) override {
    return E_NOTIMPL;
  }

 private:
  Guid m_unit;
};

struct FakeNode {
  Guid type;
  FakeControl* control = nullptr;  // null: CreateNodeInstance fails with createResult
  HRESULT createResult = E_FAIL;
};

class FakeTopology final : public FakeCom<IKsTopologyInfo> {
 public:
  FakeTopology(ComLedger& ledger, std::string name)
      : FakeCom(ledger, std::move(name), ToWinGuid(IID_IKsTopologyInfo)) {}

  std::vector<FakeNode> nodes;
  std::vector<IID> createdFor;  // the interface each CreateNodeInstance asked for

  HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Category(DWORD, GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD, KSTOPOLOGY_CONNECTION*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_NodeName(DWORD, WCHAR*, DWORD, DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* count) override {
    *count = static_cast<DWORD>(nodes.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NodeType(DWORD node, GUID* type) override {
    if (node >= nodes.size()) return E_INVALIDARG;
    *type = ToWinGuid(nodes[node].type);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD node, REFIID iid, void** out) override {
    createdFor.push_back(iid);
    *out = nullptr;
    if (node >= nodes.size()) return E_INVALIDARG;
    if (!nodes[node].control) return nodes[node].createResult;
    return nodes[node].control->QueryInterface(iid, out);
  }
};

class FakeFilter final : public FakeCom<IBaseFilter> {
 public:
  FakeFilter(ComLedger& ledger, std::string name, FakeTopology* topology)
      : FakeCom(ledger, std::move(name), ToWinGuid(IID_IBaseFilter)), m_topology(topology) {}

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

 protected:
  HRESULT QueryOther(REFIID iid, void** out) override {
    if (m_topology && iid == ToWinGuid(IID_IKsTopologyInfo))
      return m_topology->QueryInterface(iid, out);
    return E_NOINTERFACE;
  }

 private:
  FakeTopology* m_topology;
};

class FakeMoniker final : public FakeCom<IMoniker> {
 public:
  FakeMoniker(ComLedger& ledger, std::string name, std::wstring displayName, FakeFilter* filter)
      : FakeCom(ledger, std::move(name), IID_IMoniker),
        m_displayName(std::move(displayName)),
        m_filter(filter) {}

  HRESULT displayNameResult = S_OK;
  HRESULT bindResult = S_OK;
  std::vector<void*> namesHandedOut;  // task memory given to the caller
  bool contextOrLeftGiven = false;    // any call with a bind context or left moniker
  std::vector<IID> boundFor;

  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx* bc, IMoniker* left, REFIID iid,
                                         void** out) override {
    contextOrLeftGiven |= bc != nullptr || left != nullptr;
    boundFor.push_back(iid);
    *out = nullptr;
    if (bindResult != S_OK) return bindResult;
    if (!m_filter) return E_NOINTERFACE;
    return m_filter->QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx* bc, IMoniker* left, LPOLESTR* out) override {
    contextOrLeftGiven |= bc != nullptr || left != nullptr;
    *out = nullptr;
    if (displayNameResult != S_OK) return displayNameResult;
    const std::size_t bytes = (m_displayName.size() + 1) * sizeof(wchar_t);
    auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!text) return E_OUTOFMEMORY;
    std::memcpy(text, m_displayName.c_str(), bytes);
    namesHandedOut.push_back(text);
    *out = text;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Save(IStream*, WINBOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID, void**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, WINBOOL, IMoniker**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Enum(WINBOOL, IEnumMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsEqual(IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Hash(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Inverse(IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*,
                                             IMoniker**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD*) override { return E_NOTIMPL; }

 private:
  std::wstring m_displayName;
  FakeFilter* m_filter;
};

class FakeEnumMoniker final : public FakeCom<IEnumMoniker> {
 public:
  FakeEnumMoniker(ComLedger& ledger, std::string name)
      : FakeCom(ledger, std::move(name), IID_IEnumMoniker) {}

  std::vector<FakeMoniker*> monikers;
  std::vector<ULONG> asked;  // celt of every Next
  // Returned by Next once the monikers are exhausted.
  HRESULT endResult = S_FALSE;

  HRESULT STDMETHODCALLTYPE Next(ULONG celt, IMoniker** out, ULONG* fetched) override {
    asked.push_back(celt);
    if (fetched) *fetched = 0;
    if (m_next >= monikers.size() || celt == 0) return endResult;
    monikers[m_next]->AddRef();
    out[0] = monikers[m_next++];
    if (fetched) *fetched = 1;
    return celt == 1 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    m_next = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker**) override { return E_NOTIMPL; }

 private:
  std::size_t m_next = 0;
};

class FakeDevEnum final : public FakeCom<ICreateDevEnum> {
 public:
  FakeDevEnum(ComLedger& ledger, FakeEnumMoniker* monikers)
      : FakeCom(ledger, "devenum", ToWinGuid(IID_ICreateDevEnum)), m_monikers(monikers) {}

  HRESULT result = S_OK;  // S_FALSE: the category is empty
  std::vector<CLSID> categories;
  std::vector<DWORD> flags;

  HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** out,
                                                  DWORD f) override {
    categories.push_back(category);
    flags.push_back(f);
    *out = nullptr;
    if (result != S_OK || !m_monikers) return result;
    // Every enumeration starts from the first device, as the system's does.
    m_monikers->Reset();
    m_monikers->AddRef();
    *out = m_monikers;
    return S_OK;
  }

 private:
  FakeEnumMoniker* m_monikers;
};

// Watches the COM task allocator, so a test can see which blocks were freed
// through it.
class TaskMemorySpy final : public IMallocSpy {
 public:
  std::vector<void*> freed;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
      *out = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override { return request; }
  void* STDMETHODCALLTYPE PostAlloc(void* actual) override { return actual; }
  void* STDMETHODCALLTYPE PreFree(void* request, WINBOOL) override {
    freed.push_back(request);
    return request;
  }
  void STDMETHODCALLTYPE PostFree(WINBOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest,
                                      WINBOOL) override {
    *newRequest = request;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* actual, WINBOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreGetSize(void* request, WINBOOL) override { return request; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, WINBOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* request, WINBOOL) override { return request; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, WINBOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

  bool WasFreed(void* p) const {
    for (void* f : freed)
      if (f == p) return true;
    return false;
  }
};

// Puts the spy on the task allocator for a scope. The spy lives as long as the
// process: when blocks allocated under it are never freed, the allocator
// keeps it registered after the scope, and it must still be there.
class TaskMemoryWatch {
 public:
  TaskMemoryWatch() : m_registered(CoRegisterMallocSpy(&Spy())) { Spy().freed.clear(); }
  ~TaskMemoryWatch() { CoRevokeMallocSpy(); }
  TaskMemoryWatch(const TaskMemoryWatch&) = delete;
  TaskMemoryWatch& operator=(const TaskMemoryWatch&) = delete;

  // Registered now, or still registered from a scope that leaked.
  bool Active() const { return m_registered == S_OK || m_registered == CO_E_OBJISREG; }
  bool WasFreed(void* p) const { return Spy().WasFreed(p); }

 private:
  static TaskMemorySpy& Spy() {
    static TaskMemorySpy spy;
    return spy;
  }
  HRESULT m_registered;
};

// One device as the system would list it: moniker, filter, topology, nodes.
struct FakeDevice {
  FakeDevice(ComLedger& ledger, const std::string& name, std::wstring displayName)
      : topology(ledger, name + ".topology"),
        filter(ledger, name + ".filter", &topology),
        moniker(ledger, name + ".moniker", std::move(displayName), &filter) {}

  FakeControl& AddUnit(ComLedger& ledger, const std::string& name, const Guid& unit,
                       std::size_t controlLength = 60) {
    controls.push_back(std::make_unique<FakeControl>(ledger, name, unit, controlLength));
    topology.nodes.push_back({KSNODETYPE_DEV_SPECIFIC, controls.back().get()});
    return *controls.back();
  }
  // A node of another kind (camera terminal, processing unit), whose control
  // opens but knows neither unit.
  void AddOrdinaryNode(ComLedger& ledger, const std::string& name, const Guid& type) {
    controls.push_back(std::make_unique<FakeControl>(ledger, name, Guid{}));
    topology.nodes.push_back({type, controls.back().get()});
  }
  void AddUnopenableNode(const Guid& type, HRESULT result) {
    topology.nodes.push_back({type, nullptr, result});
  }

  FakeTopology topology;
  FakeFilter filter;
  FakeMoniker moniker;
  std::vector<std::unique_ptr<FakeControl>> controls;
};

// The whole system as a test sets it up: a device enumerator whose video input
// category lists the devices added, and the creation function that hands it
// to a DirectShowCaptureStack.
struct FakeSystem {
  FakeDevice& AddDevice(const std::string& name, const std::wstring& displayName) {
    devices.push_back(std::make_unique<FakeDevice>(ledger, name, displayName));
    monikers.monikers.push_back(&devices.back()->moniker);
    return *devices.back();
  }
  HRESULT Create(ICreateDevEnum** out) {
    ++creations;
    *out = nullptr;
    if (createResult != S_OK) return createResult;
    devEnum.AddRef();
    *out = &devEnum;
    return S_OK;
  }

  ComLedger ledger;
  FakeEnumMoniker monikers{ledger, "enum"};
  FakeDevEnum devEnum{ledger, &monikers};
  std::vector<std::unique_ptr<FakeDevice>> devices;
  HRESULT createResult = S_OK;
  int creations = 0;
  std::vector<std::wstring> debugLines;
};

}  // namespace nerova::link::win::testing
