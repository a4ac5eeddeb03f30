#pragma once
// Who may talk to the receiver. Each settings thread gets a ReceiverAccess;
// of all of them only one at a time holds the process-wide gate, from its
// first exchange until it is stopped or withdrawn. A replaced settings thread
// is stopped from the host thread without waiting for it: its next exchange
// is refused, and the gate passes on as soon as the exchange it may be in the
// middle of has returned. The new thread's first exchange waits for that.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "link/exchange_gate.h"

namespace nerova::app {

// To a stopped settings thread the receiver is gone.
inline constexpr link::LinkStatus kAccessStopped = link::LinkStatus::Of(link::StatusKind::Gone);

class ReceiverAccess;

class ReceiverGate {
 public:
  ReceiverGate() = default;
  ReceiverGate(const ReceiverGate&) = delete;
  ReceiverGate& operator=(const ReceiverGate&) = delete;

  // The gate of the one receiver the program talks to.
  static ReceiverGate& Process();

  // True while some access holds the gate (tests).
  bool Held() const;

 private:
  friend class ReceiverAccess;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  const ReceiverAccess* m_owner = nullptr;  // guarded by m_mutex
};

// How long an exchange waits for a gate that another settings thread keeps
// (one stuck in a device call, say) before it is given up.
inline constexpr std::chrono::milliseconds kGateWaitLimit{5000};

// One settings thread's access, as the receiver link's gate: every
// operation of the link runs as one exchange of it. Once the access is
// stopped each operation fails as if the receiver had gone, without
// touching it; what the thread holds it gives back by itself.
class ReceiverAccess final : public link::ExchangeGate {
 public:
  explicit ReceiverAccess(ReceiverGate& gate = ReceiverGate::Process()) : m_gate(gate) {}
  // Withdraws.
  ~ReceiverAccess() override;

  // link::ExchangeGate
  link::LinkStatus Run(const std::function<link::LinkStatus()>& exchange) override;
  void HoldForWholeSequence(bool hold) override;
  // The access stops as a stop from the host does: a held sequence still
  // completes first.
  void GiveUp() override { Stop(); }
  // Runs on the thread that ends a held sequence when a stop that waited
  // for it takes effect there.
  void SetStopTookEffect(std::function<void()> stopTookEffect) { m_stopTookEffect = std::move(stopTookEffect); }
  ReceiverAccess(const ReceiverAccess&) = delete;
  ReceiverAccess& operator=(const ReceiverAccess&) = delete;

  // Starts one exchange: waits until no other access holds the gate, then
  // holds it. False, at once or when the wait is cut short by Stop, for an
  // access that has been stopped, and when the gate stays taken for
  // kGateWaitLimit: the exchange must not happen.
  bool Enter();
  // Runs between short slices of a wait for the gate on the waiting thread
  // (a settings thread keeps its window alive with it). It may run other
  // code of that thread, so it must not be called with locks held.
  void SetWhileWaiting(std::function<void()> whileWaiting) { m_whileWaiting = std::move(whileWaiting); }
  // Ends an exchange that Enter allowed.
  void Leave();

  // Callable from any thread; blocks only for the gate's bookkeeping. No
  // exchange is allowed any more, and the gate is given up as soon as none
  // is under way. During a held sequence (below) the stop is only noted and
  // takes effect when the sequence ends: false then.
  bool Stop();
  // Stops now, held sequence or not (its time is up).
  void ForceStop();
  bool Stopped() const { return m_stopped.load(); }
  // Stopped, or a stop waits for the held sequence to end.
  bool StopRequested() const override { return m_stopped.load() || m_stopPending.load(); }

  // A sequence of exchanges that must complete whole (an Apply's writes and
  // the restart after them): a stop that arrives meanwhile lets it finish.
  // EndHold is true when a stop took effect there.
  void BeginHold();
  bool EndHold();
  // The held sequence has made all its exchanges but the last, and waits
  // for the user before that one (an Apply's success box before the
  // restart). A stop from now on takes effect at once, even during the hold,
  // so that the wait ends; the last exchange still goes out, and the gate
  // stays with this access until it has or the hold ends.
  void ReserveLastExchange() override;
  // Stop, by the access's own thread once it is done with the receiver.
  void Withdraw() { ForceStop(); }

  // True while this access holds the gate (tests).
  bool HoldsGate() const;

 private:
  void ReleaseIfIdleLocked();

  ReceiverGate& m_gate;
  std::function<void()> m_whileWaiting;
  std::function<void()> m_stopTookEffect;
  std::atomic<bool> m_stopped{false};
  std::atomic<bool> m_stopPending{false};
  bool m_holding = false;  // guarded by the gate's mutex
  bool m_lastExchangeReserved = false;  // guarded by the gate's mutex
  int m_inFlight = 0;      // guarded by the gate's mutex
};

// Enter and Leave for one exchange.
class ReceiverExchange {
 public:
  explicit ReceiverExchange(ReceiverAccess& access) : m_access(access), m_entered(access.Enter()) {}
  ~ReceiverExchange() {
    if (m_entered) m_access.Leave();
  }
  ReceiverExchange(const ReceiverExchange&) = delete;
  ReceiverExchange& operator=(const ReceiverExchange&) = delete;

  explicit operator bool() const { return m_entered; }

 private:
  ReceiverAccess& m_access;
  bool m_entered;
};

}  // namespace nerova::app
