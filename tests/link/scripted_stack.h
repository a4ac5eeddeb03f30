#pragma once
// A capture stack that plays back what a test sets up and records every
// property request, with counts of the objects still alive, so tests can
// check request bytes, skipping rules, results and that every reference
// taken is given back.
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/capture_stack.h"
#include "link/ks_request.h"

namespace nerova::link::testing {

struct ScriptedNode {
  Guid type = KSNODETYPE_DEV_SPECIFIC;
  // The GUID this node puts into a unit-information answer; none: it leaves
  // the buffer alone.
  std::optional<Guid> unit;
  HResult unitInfoResult = kS_OK;
  HResult openResult = kS_OK;
  // Control 3: the size query, the read and the write.
  HResult sizeResult = kMoreData;
  std::uint32_t sizeReported = 60;
  HResult readResult = kS_OK;
  std::vector<std::uint8_t> answer = std::vector<std::uint8_t>(60, 0xA5);
  std::optional<std::uint32_t> readBytesReported;  // default: what was written
  HResult writeResult = kS_OK;
};

struct ScriptedDevice {
  std::wstring name;
  HResult nameResult = kS_OK;
  HResult bindResult = kS_OK;
  HResult topologyResult = kS_OK;
  std::vector<ScriptedNode> nodes;
};

struct ScriptedCall {
  std::size_t device;
  std::uint32_t node;
  KsNodeRequest request;
  std::uint32_t propertyLength;
  bool dataNull;
  std::uint32_t dataLength;
  std::vector<std::uint8_t> sent;  // SET data
  int filterRefsAtCall;            // references alive while the request ran
};

struct LiveCounts {
  int monikers = 0;
  int filterRefs = 0;
  int topologies = 0;
  int controls = 0;
  int enumerations = 0;
};

class ScriptedStack final : public CaptureStack {
 public:
  HResult enumerateResult = kS_OK;
  bool emptyCategory = false;  // S_FALSE without an enumeration
  std::vector<ScriptedDevice> devices;
  std::vector<ScriptedCall> calls;
  std::vector<std::wstring> debugLines;
  LiveCounts live;
  std::vector<std::size_t> bound;  // devices in the order they were bound

  HResult EnumerateVideoInputs(std::unique_ptr<DeviceEnumeration>& out) override {
    out.reset();
    if (enumerateResult < 0) return enumerateResult;
    if (emptyCategory) return kS_FALSE;
    out = std::make_unique<Enumeration>(*this);
    return enumerateResult;
  }
  void DebugOutput(const wchar_t* text) override { debugLines.emplace_back(text); }

  // The filter's reference count as the stack sees it (the last filter bound
  // of the device).
  long RefsOf(std::size_t device) const {
    for (auto it = m_filters.rbegin(); it != m_filters.rend(); ++it) {
      if ((*it)->device == device) return (*it)->refs;
    }
    return 0;
  }

 private:
  struct Control final : NodeControl {
    Control(ScriptedStack& s, std::size_t d, std::uint32_t n) : stack(s), device(d), node(n) {
      ++stack.live.controls;
    }
    ~Control() override { --stack.live.controls; }
    HResult KsProperty(const void* property, std::uint32_t propertyLength, void* data,
                       std::uint32_t dataLength, std::uint32_t& bytesReturned) override {
      ScriptedCall call{device,          node,       {}, propertyLength,
                        data == nullptr, dataLength, {}, stack.live.filterRefs};
      std::memcpy(call.request.data(), property, std::min<std::uint32_t>(propertyLength, 32));
      KsNodeFields fields;
      ParseKsNodeRequest(property, propertyLength, fields);
      const bool set = (fields.flags & kKsPropertyTypeSet) != 0;
      if (set && data) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        call.sent.assign(p, p + dataLength);
      }
      stack.calls.push_back(std::move(call));

      const ScriptedNode& n = stack.devices[device].nodes[node];
      bytesReturned = 0;
      if (fields.id == kUnitInfoProperty) {
        if (n.unit && fields.set == *n.unit && dataLength >= 16) {
          std::memcpy(data, n.unit->bytes.data(), 16);
          bytesReturned = 16;
        }
        return n.unitInfoResult;
      }
      if (set) return n.writeResult;
      if (data == nullptr || dataLength == 0) {
        bytesReturned = n.sizeReported;
        return n.sizeResult;
      }
      const std::uint32_t copied =
          std::min<std::uint32_t>(dataLength, static_cast<std::uint32_t>(n.answer.size()));
      std::memcpy(data, n.answer.data(), copied);
      bytesReturned = n.readBytesReported.value_or(copied);
      return n.readResult;
    }
    ScriptedStack& stack;
    std::size_t device;
    std::uint32_t node;
  };

  struct Topo final : Topology {
    Topo(ScriptedStack& s, std::size_t d) : stack(s), device(d) { ++stack.live.topologies; }
    ~Topo() override { --stack.live.topologies; }
    HResult GetNumNodes(std::uint32_t& count) override {
      count = static_cast<std::uint32_t>(stack.devices[device].nodes.size());
      return kS_OK;
    }
    HResult GetNodeType(std::uint32_t node, Guid& type) override {
      type = stack.devices[device].nodes[node].type;
      return kS_OK;
    }
    HResult CreateNodeControl(std::uint32_t node, std::unique_ptr<NodeControl>& out) override {
      out.reset();
      const HResult hr = stack.devices[device].nodes[node].openResult;
      if (hr < 0) return hr;
      out = std::make_unique<Control>(stack, device, node);
      return hr;
    }
    ScriptedStack& stack;
    std::size_t device;
  };

  struct Filter final : CaptureFilter {
    Filter(ScriptedStack& s, std::size_t d) : stack(s), device(d) { ++stack.live.filterRefs; }
    void AddRef() override {
      ++refs;
      ++stack.live.filterRefs;
    }
    void Release() override {
      --refs;
      --stack.live.filterRefs;
    }
    HResult QueryTopology(std::unique_ptr<Topology>& out) override {
      out.reset();
      const HResult hr = stack.devices[device].topologyResult;
      if (hr < 0) return hr;
      out = std::make_unique<Topo>(stack, device);
      return hr;
    }
    ScriptedStack& stack;
    std::size_t device;
    long refs = 1;
  };

  struct Moniker final : DeviceMoniker {
    Moniker(ScriptedStack& s, std::size_t d) : stack(s), device(d) { ++stack.live.monikers; }
    ~Moniker() override { --stack.live.monikers; }
    HResult GetDisplayName(std::wstring& name) override {
      const ScriptedDevice& d = stack.devices[device];
      if (d.nameResult < 0) return d.nameResult;
      name = d.name;
      return d.nameResult;
    }
    HResult BindToFilter(FilterRef& out) override {
      out.Reset();
      const ScriptedDevice& d = stack.devices[device];
      if (d.bindResult < 0) return d.bindResult;
      // Filters stay allocated until the stack goes, so a test can look at
      // their counts after the link has let go.
      stack.m_filters.push_back(std::make_unique<Filter>(stack, device));
      stack.bound.push_back(device);
      out = FilterRef::Adopt(stack.m_filters.back().get());
      return d.bindResult;
    }
    ScriptedStack& stack;
    std::size_t device;
  };

  struct Enumeration final : DeviceEnumeration {
    explicit Enumeration(ScriptedStack& s) : stack(s) { ++stack.live.enumerations; }
    ~Enumeration() override { --stack.live.enumerations; }
    HResult Next(std::unique_ptr<DeviceMoniker>& out) override {
      out.reset();
      if (next >= stack.devices.size()) return kS_FALSE;
      out = std::make_unique<Moniker>(stack, next++);
      return kS_OK;
    }
    ScriptedStack& stack;
    std::size_t next = 0;
  };

  std::vector<std::unique_ptr<Filter>> m_filters;
};

// A display name as the system gives it for a USB capture device.
inline std::wstring UsbDeviceName(const std::wstring& usbId) {
  return L"@device:pnp:\\\\?\\usb#" + usbId +
         L"&mi_00#7&2f1c3a4b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
}

// Nodes of a typical receiver: two video nodes, the probe unit, the
// settings unit and the streaming node.
inline std::vector<ScriptedNode> ReceiverNodes() {
  const Guid video = Guid::FromFields(0xDFF229E6, 0xF70F, 0x11D0,
                                      {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
  std::vector<ScriptedNode> nodes(5);
  nodes[0].type = video;
  nodes[1].type = video;
  nodes[2].unit = ProbeUnitGuid;
  nodes[3].unit = SettingsUnitGuid;
  nodes[4].type = video;
  return nodes;
}

}  // namespace nerova::link::testing
