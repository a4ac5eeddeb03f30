// The virtual receiver's COM server: a capture filter that the system device
// enumerator lists in the video input category and binds like a device. It
// streams nothing; what it has is the topology of the receiver's video
// function and, on every node, IKsControl answering as the video-class
// driver does, with the receiver substitute behind the extension units.
#include <windows.h>

#include <dshow.h>
#include <ks.h>
#include <ksproxy.h>

#include <atomic>
#include <new>
#include <string>

#include "link/win/ks_request.h"
#include "link/win/ks_topology_info.h"
#include "link/win/win_guid.h"
#include "sim/virtual/device_presence.h"
#include "sim/virtual/receiver_requests.h"
#include "sim/virtual/registry_key.h"
#include "sim/virtual/shared_receiver.h"

namespace nerova::sim::virtual_receiver {
namespace {

HMODULE g_hModule = nullptr;
std::atomic<long> g_nObjects{0};
std::atomic<long> g_nLocks{0};

// As the video-class driver answers for a device that has gone, and for a
// request the device stalls.
const HRESULT kGone = static_cast<HRESULT>(kDeviceNotConnected.code);
const HRESULT kStalled = static_cast<HRESULT>(kGenFailure.code);

// Reference counting and the object count DllCanUnloadNow looks at.
class Counted {
 protected:
  Counted() { ++g_nObjects; }
  virtual ~Counted() { --g_nObjects; }
  ULONG AddRefImpl() { return static_cast<ULONG>(++m_nRefs); }
  ULONG ReleaseImpl() {
    const long left = --m_nRefs;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  std::atomic<long> m_nRefs{1};
};

std::wstring ModuleDirectory() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(g_hModule, path, MAX_PATH);
  std::wstring directory(path, length);
  return directory.substr(0, directory.find_last_of(L"\\/") + 1);
}

// The restart happens outside the caller's process: the controller beside
// this module takes the receiver out of the category, tells the system's
// windows, and brings it back when its restart time is over, whatever
// becomes of the program that asked for the restart.
void StartRestartCycle(const VirtualReceiver& receiver) {
  std::wstring command = L"\"" + ModuleDirectory() + L"virtual-receiver.exe\" --receiver " +
                         std::to_wstring(receiver.number) + L" restart-cycle";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr,
                     nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

class NodeControl final : public IKsControl, private Counted {
 public:
  NodeControl(const VirtualReceiver& receiver, std::uint32_t node, std::uint32_t generation)
      : m_receiver(receiver), m_nNode(node), m_nGeneration(generation) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IKsControl) {
      *out = static_cast<IKsControl*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

  STDMETHODIMP KsProperty(PKSPROPERTY property, ULONG propertyLength, LPVOID data, ULONG dataLength,
                          ULONG* bytesReturned) override {
    if (!bytesReturned || !property || (!data && dataLength > 0)) return E_POINTER;
    *bytesReturned = 0;
    bool restarted = false;
    HRESULT result = E_FAIL;
    {
      ReceiverLock lock(m_receiver);
      if (!lock.Held()) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
      ReceiverRecord record = lock.Load();
      const std::int64_t now = NowMs();
      if (!IsThere(m_receiver, record, now) || record.generation != m_nGeneration) return kGone;
      NodeAnswer answer = AnswerNodeProperty(record, now, m_nNode, property, propertyLength, data, dataLength);
      *bytesReturned = answer.bytesReturned;
      result = static_cast<HRESULT>(answer.result);
      if (answer.restarted) {
        ++record.generation;
        record.absentUntilMs = now + record.restartTimeMs;
        restarted = true;
      }
      lock.Save(record);
      lock.AppendLog(answer.transfers);
    }
    if (restarted) StartRestartCycle(m_receiver);
    return result;
  }
  STDMETHODIMP KsMethod(PKSMETHOD, ULONG, LPVOID, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP KsEvent(PKSEVENT, ULONG, LPVOID, ULONG, ULONG*) override { return E_NOTIMPL; }

 private:
  const VirtualReceiver& m_receiver;
  std::uint32_t m_nNode;
  std::uint32_t m_nGeneration;
};

// A filter without pins: enough for enumeration and binding.
class EmptyPinEnum final : public IEnumPins, private Counted {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumPins) {
      *out = static_cast<IEnumPins*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (count > 0 && !pins) return E_POINTER;
    return count == 0 ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
  STDMETHODIMP Reset() override { return S_OK; }
  STDMETHODIMP Clone(IEnumPins** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) EmptyPinEnum();
    return *out ? S_OK : E_OUTOFMEMORY;
  }
};

class CaptureFilter final : public IBaseFilter, public IKsTopologyInfo, private Counted {
 public:
  explicit CaptureFilter(const VirtualReceiver& receiver) : m_receiver(receiver) {
    const ReceiverLock lock(receiver);
    m_nGeneration = lock.Load().generation;
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter) {
      *out = static_cast<IBaseFilter*>(this);
    } else if (iid == link::win::ToWinGuid(link::win::IID_IKsTopologyInfo)) {
      *out = static_cast<IKsTopologyInfo*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

  // IPersist, IMediaFilter, IBaseFilter: a stopped filter outside any graph.
  STDMETHODIMP GetClassID(CLSID* id) override {
    if (!id) return E_POINTER;
    *id = m_receiver.clsid;
    return S_OK;
  }
  STDMETHODIMP Stop() override { return S_OK; }
  STDMETHODIMP Pause() override { return S_OK; }
  STDMETHODIMP Run(REFERENCE_TIME) override { return S_OK; }
  STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    *state = State_Stopped;
    return S_OK;
  }
  STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    *clock = nullptr;
    return S_OK;
  }
  STDMETHODIMP EnumPins(IEnumPins** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) EmptyPinEnum();
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP FindPin(LPCWSTR, IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override {
    if (!info) return E_POINTER;
    lstrcpynW(info->achName, kFriendlyName, MAX_FILTER_NAME);
    info->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return S_OK;
  }
  // The graph holds the filter, not the other way round.
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR) override {
    m_pGraph = graph;
    return S_OK;
  }
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }

  // IKsTopologyInfo: the nodes of the receiver's video function.
  STDMETHODIMP get_NumCategories(DWORD* count) override { return Zero(count); }
  STDMETHODIMP get_Category(DWORD, GUID*) override { return E_INVALIDARG; }
  STDMETHODIMP get_NumConnections(DWORD* count) override { return Zero(count); }
  STDMETHODIMP get_ConnectionInfo(DWORD, KSTOPOLOGY_CONNECTION*) override { return E_INVALIDARG; }
  STDMETHODIMP get_NodeName(DWORD, WCHAR*, DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP get_NumNodes(DWORD* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<DWORD>(ReceiverNodes().size());
    return S_OK;
  }
  STDMETHODIMP get_NodeType(DWORD node, GUID* type) override {
    if (!type) return E_POINTER;
    if (node >= ReceiverNodes().size()) return E_INVALIDARG;
    *type = link::win::ToWinGuid(ReceiverNodes()[node].type);
    return S_OK;
  }
  STDMETHODIMP CreateNodeInstance(DWORD node, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (node >= ReceiverNodes().size()) return E_INVALIDARG;
    if (iid != IID_IKsControl && iid != IID_IUnknown) return E_NOINTERFACE;
    {
      const ReceiverLock lock(m_receiver);
      const ReceiverRecord record = lock.Load();
      if (!IsThere(m_receiver, record, NowMs()) || record.generation != m_nGeneration) return kGone;
      if (record.Has("node-fails") && node == SettingsNode()) return kStalled;
    }
    NodeControl* control = new (std::nothrow) NodeControl(m_receiver, node, m_nGeneration);
    if (!control) return E_OUTOFMEMORY;
    const HRESULT hr = control->QueryInterface(iid, out);
    control->Release();
    return hr;
  }

 private:
  static HRESULT Zero(DWORD* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }

  const VirtualReceiver& m_receiver;
  IFilterGraph* m_pGraph = nullptr;
  std::uint32_t m_nGeneration = 0;
};

// Makes the filter of one receiver.
class ClassFactory final : public IClassFactory {
 public:
  explicit constexpr ClassFactory(const VirtualReceiver& receiver) : m_receiver(receiver) {}
  const VirtualReceiver& Receiver() const { return m_receiver; }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Static factories: they never go away while the module is loaded.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    CaptureFilter* filter = new (std::nothrow) CaptureFilter(m_receiver);
    if (!filter) return E_OUTOFMEMORY;
    const HRESULT hr = filter->QueryInterface(iid, out);
    filter->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    g_nLocks += lock ? 1 : -1;
    return S_OK;
  }

 private:
  const VirtualReceiver& m_receiver;
};

ClassFactory g_factories[] = {ClassFactory(kReceiverDevice), ClassFactory(kSecondReceiverDevice)};

std::wstring ClassKey(const VirtualReceiver& receiver) {
  wchar_t text[40] = {};
  StringFromGUID2(receiver.clsid, text, 40);
  return std::wstring(L"CLSID\\") + text;
}

}  // namespace
}  // namespace nerova::sim::virtual_receiver

using namespace nerova::sim::virtual_receiver;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_hModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (ClassFactory& factory : g_factories) {
    if (factory.Receiver().clsid == clsid) return factory.QueryInterface(iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return g_nObjects == 0 && g_nLocks == 0 ? S_OK : S_FALSE; }

// The classes, then the receivers in the video input category as their
// records say they are (plugged in, restarting or not).
STDAPI DllRegisterServer() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(g_hModule, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;
  for (const VirtualReceiver* receiver : kReceivers) {
    const RegistryKey classKey(ClassKey(*receiver), KEY_WRITE, true);
    const RegistryKey server(ClassKey(*receiver) + L"\\InprocServer32", KEY_WRITE, true);
    if (!classKey.SetString(nullptr, kFriendlyName) || !server.SetString(nullptr, path) ||
        !server.SetString(L"ThreadingModel", L"Both")) {
      return SELFREG_E_CLASS;
    }
  }
  return SyncListings() ? S_OK : E_FAIL;
}

STDAPI DllUnregisterServer() {
  for (const VirtualReceiver* receiver : kReceivers) {
    Unlist(*receiver);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(*receiver).c_str());
  }
  return S_OK;
}
