#include "app/receiver_gate.h"

namespace nerova::app {

ReceiverGate& ReceiverGate::Process() {
  static ReceiverGate gate;
  return gate;
}

bool ReceiverGate::Held() const {
  std::lock_guard lock(m_mutex);
  return m_owner != nullptr;
}

ReceiverAccess::~ReceiverAccess() { Withdraw(); }

link::LinkStatus ReceiverAccess::Run(const std::function<link::LinkStatus()>& exchange) {
  ReceiverExchange turn(*this);
  if (!turn) return kAccessStopped;
  return exchange();
}

void ReceiverAccess::HoldForWholeSequence(bool hold) {
  if (hold) {
    BeginHold();
    return;
  }
  if (EndHold() && m_stopTookEffect) m_stopTookEffect();
}

bool ReceiverAccess::Enter() {
  using Clock = std::chrono::steady_clock;
  constexpr std::chrono::milliseconds kSlice{20};
  const Clock::time_point giveUp = Clock::now() + kGateWaitLimit;
  std::unique_lock lock(m_gate.m_mutex);
  // A stopped access keeps the gate for the one exchange it reserved.
  const auto allowed = [&] { return !m_stopped.load() || m_lastExchangeReserved; };
  if (!allowed()) return false;
  const auto free = [&] { return !allowed() || m_gate.m_owner == nullptr || m_gate.m_owner == this; };
  while (!free()) {
    if (Clock::now() >= giveUp) return false;
    if (!m_whileWaiting) {
      m_gate.m_changed.wait_until(lock, giveUp, free);
      continue;
    }
    m_gate.m_changed.wait_for(lock, kSlice, free);
    if (free()) break;
    lock.unlock();
    m_whileWaiting();
    lock.lock();
  }
  if (!allowed()) return false;
  if (m_stopped.load()) m_lastExchangeReserved = false;
  m_gate.m_owner = this;
  ++m_inFlight;
  return true;
}

void ReceiverAccess::Leave() {
  std::lock_guard lock(m_gate.m_mutex);
  --m_inFlight;
  ReleaseIfIdleLocked();
}

bool ReceiverAccess::Stop() {
  {
    std::lock_guard lock(m_gate.m_mutex);
    if (m_holding && !m_lastExchangeReserved) {
      m_stopPending.store(true);
      return false;
    }
  }
  ForceStop();
  return true;
}

void ReceiverAccess::ForceStop() {
  m_stopped.store(true);
  std::lock_guard lock(m_gate.m_mutex);
  ReleaseIfIdleLocked();
  // Also wakes this access's own Enter if it is waiting.
  m_gate.m_changed.notify_all();
}

void ReceiverAccess::BeginHold() {
  std::lock_guard lock(m_gate.m_mutex);
  m_holding = true;
}

bool ReceiverAccess::EndHold() {
  {
    std::lock_guard lock(m_gate.m_mutex);
    m_holding = false;
    m_lastExchangeReserved = false;
    if (!m_stopPending.load() || m_stopped.load()) {
      // A stop that took effect while the last exchange was reserved gives
      // the gate up now.
      ReleaseIfIdleLocked();
      return false;
    }
  }
  ForceStop();
  return true;
}

void ReceiverAccess::ReserveLastExchange() {
  std::lock_guard lock(m_gate.m_mutex);
  if (m_holding) m_lastExchangeReserved = true;
}

bool ReceiverAccess::HoldsGate() const {
  std::lock_guard lock(m_gate.m_mutex);
  return m_gate.m_owner == this;
}

void ReceiverAccess::ReleaseIfIdleLocked() {
  if (m_stopped.load() && m_inFlight == 0 && !m_lastExchangeReserved && m_gate.m_owner == this) {
    m_gate.m_owner = nullptr;
    m_gate.m_changed.notify_all();
  }
}

}  // namespace nerova::app
