#include "app/gated_capture_stack.h"

#include <utility>

namespace nerova::app {
namespace {

// Runs `operation` as one exchange of `access`; a stopped access gets
// kAccessStopped without the operation running.
template <typename Operation>
link::LinkStatus Exchange(ReceiverAccess& access, Operation&& operation) {
  ReceiverExchange exchange(access);
  if (!exchange) return kAccessStopped;
  return operation();
}

class GatedUnit final : public link::ExtensionUnit {
 public:
  GatedUnit(ReceiverAccess& access, std::unique_ptr<link::ExtensionUnit> inner)
      : m_access(access), m_inner(std::move(inner)) {}

  link::LinkStatus Query(std::uint8_t selector, link::UvcRequest request, std::uint8_t* data, std::uint32_t size,
                         std::uint32_t& transferred) override {
    transferred = 0;
    return Exchange(m_access, [&] { return m_inner->Query(selector, request, data, size, transferred); });
  }

 private:
  ReceiverAccess& m_access;
  std::unique_ptr<link::ExtensionUnit> m_inner;
};

class GatedDevice final : public link::VideoDevice {
 public:
  GatedDevice(ReceiverAccess& access, link::DeviceRef inner) : m_access(access), m_inner(std::move(inner)) {}

  link::LinkStatus FindExtensionUnit(const link::Guid& unit, link::UnitSearch search,
                                     std::unique_ptr<link::ExtensionUnit>& out) override {
    out.reset();
    return Exchange(m_access, [&] {
      std::unique_ptr<link::ExtensionUnit> inner;
      const link::LinkStatus status = m_inner->FindExtensionUnit(unit, search, inner);
      if (inner) out = std::make_unique<GatedUnit>(m_access, std::move(inner));
      return status;
    });
  }

 private:
  ReceiverAccess& m_access;
  link::DeviceRef m_inner;
};

class GatedInput final : public link::VideoInput {
 public:
  GatedInput(ReceiverAccess& access, std::unique_ptr<link::VideoInput> inner)
      : m_access(access), m_inner(std::move(inner)) {}

  link::LinkStatus Name(link::VideoInputName& out) override {
    return Exchange(m_access, [&] { return m_inner->Name(out); });
  }
  link::LinkStatus Open(link::DeviceRef& out) override {
    out.reset();
    return Exchange(m_access, [&] {
      link::DeviceRef inner;
      const link::LinkStatus status = m_inner->Open(inner);
      if (inner) out = std::make_shared<GatedDevice>(m_access, std::move(inner));
      return status;
    });
  }

 private:
  ReceiverAccess& m_access;
  std::unique_ptr<link::VideoInput> m_inner;
};

class GatedInputList final : public link::VideoInputList {
 public:
  GatedInputList(ReceiverAccess& access, std::unique_ptr<link::VideoInputList> inner)
      : m_access(access), m_inner(std::move(inner)) {}

  bool Next(std::unique_ptr<link::VideoInput>& out) override {
    out.reset();
    std::unique_ptr<link::VideoInput> inner;
    const link::LinkStatus status = Exchange(m_access, [&] {
      return m_inner->Next(inner) ? link::LinkStatus::Success() : link::LinkStatus::Of(link::StatusKind::NotFound);
    });
    if (!status.Ok() || !inner) return false;
    out = std::make_unique<GatedInput>(m_access, std::move(inner));
    return true;
  }

 private:
  ReceiverAccess& m_access;
  std::unique_ptr<link::VideoInputList> m_inner;
};

}  // namespace

link::LinkStatus GatedCaptureStack::ListVideoInputs(std::unique_ptr<link::VideoInputList>& out) {
  out.reset();
  return Exchange(m_access, [&] {
    std::unique_ptr<link::VideoInputList> inner;
    const link::LinkStatus status = m_inner.ListVideoInputs(inner);
    if (inner) out = std::make_unique<GatedInputList>(m_access, std::move(inner));
    return status;
  });
}

void GatedCaptureStack::HoldForWholeSequence(bool hold) {
  if (hold) {
    m_access.BeginHold();
    return;
  }
  if (m_access.EndHold() && m_stopTookEffect) m_stopTookEffect();
}

}  // namespace nerova::app
