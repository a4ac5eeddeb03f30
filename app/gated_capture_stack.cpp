#include "app/gated_capture_stack.h"

#include <atomic>
#include <utility>

namespace nerova::app {
namespace {

class GatedNodeControl final : public link::NodeControl {
 public:
  GatedNodeControl(ReceiverAccess& access, std::unique_ptr<link::NodeControl> inner)
      : m_access(access), m_inner(std::move(inner)) {}

  link::HResult KsProperty(const void* property, std::uint32_t propertyLength, void* data,
                           std::uint32_t dataLength, std::uint32_t& bytesReturned) override {
    ReceiverExchange exchange(m_access);
    if (!exchange) {
      bytesReturned = 0;
      return kAccessStopped;
    }
    return m_inner->KsProperty(property, propertyLength, data, dataLength, bytesReturned);
  }

 private:
  ReceiverAccess& m_access;
  std::unique_ptr<link::NodeControl> m_inner;
};

class GatedTopology final : public link::Topology {
 public:
  GatedTopology(ReceiverAccess& access, std::unique_ptr<link::Topology> inner)
      : m_access(access), m_inner(std::move(inner)) {}

  link::HResult GetNumNodes(std::uint32_t& count) override {
    ReceiverExchange exchange(m_access);
    if (!exchange) return kAccessStopped;
    return m_inner->GetNumNodes(count);
  }
  link::HResult GetNodeType(std::uint32_t node, link::Guid& type) override {
    ReceiverExchange exchange(m_access);
    if (!exchange) return kAccessStopped;
    return m_inner->GetNodeType(node, type);
  }
  link::HResult CreateNodeControl(std::uint32_t node, std::unique_ptr<link::NodeControl>& out) override {
    ReceiverExchange exchange(m_access);
    if (!exchange) return kAccessStopped;
    std::unique_ptr<link::NodeControl> inner;
    const link::HResult hr = m_inner->CreateNodeControl(node, inner);
    if (inner) out = std::make_unique<GatedNodeControl>(m_access, std::move(inner));
    return hr;
  }

 private:
  ReceiverAccess& m_access;
  std::unique_ptr<link::Topology> m_inner;
};

// Reference counted like the filter it stands for; holds one reference to it.
class GatedFilter final : public link::CaptureFilter {
 public:
  GatedFilter(ReceiverAccess& access, link::FilterRef inner) : m_access(access), m_inner(std::move(inner)) {}

  void AddRef() override { m_references.fetch_add(1); }
  void Release() override {
    if (m_references.fetch_sub(1) == 1) delete this;
  }
  link::HResult QueryTopology(std::unique_ptr<link::Topology>& out) override {
    ReceiverExchange exchange(m_access);
    if (!exchange) return kAccessStopped;
    std::unique_ptr<link::Topology> inner;
    const link::HResult hr = m_inner->QueryTopology(inner);
    if (inner) out = std::make_unique<GatedTopology>(m_access, std::move(inner));
    return hr;
  }

 private:
  ~GatedFilter() override = default;

  ReceiverAccess& m_access;
  link::FilterRef m_inner;
  std::atomic<long> m_references{1};
};

class GatedMoniker final : public link::DeviceMoniker {
 public:
  GatedMoniker(ReceiverAccess& access, std::unique_ptr<link::DeviceMoniker> inner)
      : m_access(access), m_inner(std::move(inner)) {}

  link::HResult GetDisplayName(std::wstring& name) override {
    ReceiverExchange exchange(m_access);
    if (!exchange) return kAccessStopped;
    return m_inner->GetDisplayName(name);
  }
  link::HResult BindToFilter(link::FilterRef& out) override {
    ReceiverExchange exchange(m_access);
    if (!exchange) return kAccessStopped;
    link::FilterRef inner;
    const link::HResult hr = m_inner->BindToFilter(inner);
    if (inner) out = link::FilterRef::Adopt(new GatedFilter(m_access, std::move(inner)));
    return hr;
  }

 private:
  ReceiverAccess& m_access;
  std::unique_ptr<link::DeviceMoniker> m_inner;
};

class GatedEnumeration final : public link::DeviceEnumeration {
 public:
  GatedEnumeration(ReceiverAccess& access, std::unique_ptr<link::DeviceEnumeration> inner)
      : m_access(access), m_inner(std::move(inner)) {}

  link::HResult Next(std::unique_ptr<link::DeviceMoniker>& out) override {
    ReceiverExchange exchange(m_access);
    if (!exchange) return kAccessStopped;
    std::unique_ptr<link::DeviceMoniker> inner;
    const link::HResult hr = m_inner->Next(inner);
    if (inner) out = std::make_unique<GatedMoniker>(m_access, std::move(inner));
    return hr;
  }

 private:
  ReceiverAccess& m_access;
  std::unique_ptr<link::DeviceEnumeration> m_inner;
};

}  // namespace

link::HResult GatedCaptureStack::EnumerateVideoInputs(std::unique_ptr<link::DeviceEnumeration>& out) {
  ReceiverExchange exchange(m_access);
  if (!exchange) return kAccessStopped;
  std::unique_ptr<link::DeviceEnumeration> inner;
  const link::HResult hr = m_inner.EnumerateVideoInputs(inner);
  if (inner) out = std::make_unique<GatedEnumeration>(m_access, std::move(inner));
  return hr;
}

void GatedCaptureStack::HoldForWholeSequence(bool hold) {
  if (hold) {
    m_access.BeginHold();
    return;
  }
  if (m_access.EndHold() && m_stopTookEffect) m_stopTookEffect();
}

}  // namespace nerova::app
