#pragma once
// The capture stack as one settings thread sees it: every operation that
// reaches a device runs as one exchange of the thread's ReceiverAccess. Once
// the access is stopped each such operation fails as if the device had gone,
// without touching it; what the thread holds it gives back by itself.
#include <functional>

#include "app/receiver_gate.h"
#include "link/capture_stack.h"

namespace nerova::app {

// To a stopped settings thread the receiver is gone.
inline constexpr link::LinkStatus kAccessStopped = link::LinkStatus::Of(link::StatusKind::Gone);

class GatedCaptureStack final : public link::CaptureStack {
 public:
  // `stopTookEffect` runs on the thread that ends a held sequence when a
  // stop that waited for it takes effect there.
  GatedCaptureStack(ReceiverAccess& access, link::CaptureStack& inner, std::function<void()> stopTookEffect = {})
      : m_access(access), m_inner(inner), m_stopTookEffect(std::move(stopTookEffect)) {}

  link::LinkStatus ListVideoInputs(std::unique_ptr<link::VideoInputList>& out) override;
  void DebugOutput(const wchar_t* text) override { m_inner.DebugOutput(text); }
  void HoldForWholeSequence(bool hold) override;
  bool StopRequested() const override { return m_access.StopRequested(); }
  bool Busy() const override { return m_access.WouldWait(); }

 private:
  ReceiverAccess& m_access;
  link::CaptureStack& m_inner;
  std::function<void()> m_stopTookEffect;
};

}  // namespace nerova::app
