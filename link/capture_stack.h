#pragma once
// The boundary between the receiver link and the platform's media-capture
// stack. On Windows it is DirectShow and Kernel Streaming (system device
// enumerator, monikers, IBaseFilter, IKsTopologyInfo, IKsControl); in tests
// it is the receiver substitute. Every operation returns
// the HRESULT the platform gave, so the link's results are the platform's.
//
// Objects handed out through std::unique_ptr are single-owner interfaces: the
// Windows implementation releases its COM interface in the destructor. A
// capture filter is shared and reference counted (FilterRef).
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "link/guid.h"
#include "link/hresult.h"

namespace nerova::link {

// One node's property interface (IKsControl on a topology node).
class NodeControl {
 public:
  virtual ~NodeControl() = default;
  // IKsControl::KsProperty. `property` is the 32-byte KSP_NODE request (see
  // ks_request.h); `data` may be null with `dataLength` 0 (the size query).
  virtual HResult KsProperty(const void* property, std::uint32_t propertyLength, void* data,
                             std::uint32_t dataLength, std::uint32_t& bytesReturned) = 0;
};

// A filter's USB Video Class topology (IKsTopologyInfo).
class Topology {
 public:
  virtual ~Topology() = default;
  virtual HResult GetNumNodes(std::uint32_t& count) = 0;
  virtual HResult GetNodeType(std::uint32_t node, Guid& type) = 0;
  // CreateNodeInstance for IID_IKsControl.
  virtual HResult CreateNodeControl(std::uint32_t node, std::unique_ptr<NodeControl>& out) = 0;
};

// A bound capture filter (IBaseFilter). Reference counted; hold it in a FilterRef.
class CaptureFilter {
 public:
  virtual void AddRef() = 0;
  virtual void Release() = 0;
  // QueryInterface for IID_IKsTopologyInfo. On failure `out` stays null.
  virtual HResult QueryTopology(std::unique_ptr<Topology>& out) = 0;

 protected:
  virtual ~CaptureFilter() = default;
};

// Owns one reference to a capture filter. Moves transfer it; copies are
// explicit (Share) so that every added reference is visible in the code.
class FilterRef {
 public:
  FilterRef() = default;
  // Takes over a reference the caller already holds.
  static FilterRef Adopt(CaptureFilter* filter) { return FilterRef(filter); }
  // Adds a reference of its own.
  static FilterRef Share(CaptureFilter* filter) {
    if (filter) filter->AddRef();
    return FilterRef(filter);
  }
  FilterRef(FilterRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  FilterRef& operator=(FilterRef&& other) noexcept {
    if (this != &other) {
      Reset();
      m_p = std::exchange(other.m_p, nullptr);
    }
    return *this;
  }
  FilterRef(const FilterRef&) = delete;
  FilterRef& operator=(const FilterRef&) = delete;
  ~FilterRef() { Reset(); }

  void Reset() {
    if (CaptureFilter* p = std::exchange(m_p, nullptr)) p->Release();
  }
  CaptureFilter* Get() const { return m_p; }
  CaptureFilter* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  explicit FilterRef(CaptureFilter* filter) : m_p(filter) {}
  CaptureFilter* m_p = nullptr;
};

// One entry of the video input category (IMoniker).
class DeviceMoniker {
 public:
  virtual ~DeviceMoniker() = default;
  // IMoniker::GetDisplayName; the platform's string is copied and freed
  // through the COM task allocator inside.
  virtual HResult GetDisplayName(std::wstring& name) = 0;
  // IMoniker::BindToObject for IID_IBaseFilter. On failure `out` stays null.
  virtual HResult BindToFilter(FilterRef& out) = 0;
};

// The enumeration of the video input category (IEnumMoniker).
class DeviceEnumeration {
 public:
  virtual ~DeviceEnumeration() = default;
  // IEnumMoniker::Next with one element: S_OK with a moniker, anything else
  // (S_FALSE at the end) without one.
  virtual HResult Next(std::unique_ptr<DeviceMoniker>& out) = 0;
};

class CaptureStack {
 public:
  virtual ~CaptureStack() = default;
  // CoCreateInstance of the system device enumerator, then
  // CreateClassEnumerator for the video input category with flags 0. Either
  // call's failure is returned as it came. A category without devices gives
  // S_FALSE and no enumeration.
  virtual HResult EnumerateVideoInputs(std::unique_ptr<DeviceEnumeration>& out) = 0;
  // OutputDebugStringW.
  virtual void DebugOutput(const wchar_t* text) = 0;

  // Whoever may stop the caller's use of the receiver (the tray host, when it
  // replaces the settings window) lets a sequence held here complete whole,
  // briefly; StopRequested tells that such a stop has come. Nothing of the
  // kind on a stack of its own.
  virtual void HoldForWholeSequence(bool /*hold*/) {}
  virtual bool StopRequested() const { return false; }
  // Another user of the receiver has it now, so that an exchange would wait.
  virtual bool Busy() const { return false; }
};

}  // namespace nerova::link
