#pragma once
// The receiver link's gate as one settings thread sees it: every operation
// of the link runs as one exchange of the thread's ReceiverAccess. Once the
// access is stopped each operation fails as if the receiver had gone,
// without touching it; what the thread holds it gives back by itself.
#include <functional>

#include "app/receiver_gate.h"
#include "link/exchange_gate.h"

namespace nerova::app {

// To a stopped settings thread the receiver is gone.
inline constexpr link::LinkStatus kAccessStopped = link::LinkStatus::Of(link::StatusKind::Gone);

class AccessGate final : public link::ExchangeGate {
 public:
  // `stopTookEffect` runs on the thread that ends a held sequence when a
  // stop that waited for it takes effect there.
  explicit AccessGate(ReceiverAccess& access, std::function<void()> stopTookEffect = {})
      : m_access(access), m_stopTookEffect(std::move(stopTookEffect)) {}

  link::LinkStatus Run(const std::function<link::LinkStatus()>& exchange) override;
  void HoldForWholeSequence(bool hold) override;
  void ReserveLastExchange() override { m_access.ReserveLastExchange(); }
  bool StopRequested() const override { return m_access.StopRequested(); }
  bool Busy() const override { return m_access.WouldWait(); }
  // The access stops as a stop from the host does: a held sequence still
  // completes first.
  void GiveUp() override { m_access.Stop(); }

 private:
  ReceiverAccess& m_access;
  std::function<void()> m_stopTookEffect;
};

}  // namespace nerova::app
