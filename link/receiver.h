#pragma once
// The receiver as the settings window and the command line have it: the
// link over the platform's capture stack behind its gate, the settings
// protocol over that, and the receiver the protocol keeps once it has
// answered. Both front ends ask it whether the receiver answers; each says
// whether the kept receiver is to be found afresh first.
#include "link/capture_stack.h"
#include "link/exchange_gate.h"
#include "link/message_pump.h"
#include "link/receiver_link.h"
#include "link/receiver_lock.h"
#include "link/receiver_settings.h"
#include "link/receiver_turn.h"
#include "link/text_codec.h"

namespace nerova::link {

class Receiver {
 public:
  // `stack`, `pump`, `codec`, `gate` and `locks` must outlive the object;
  // a turn waits for another program up to `turnWaitMs`
  // (ReceiverSettings::Turn).
  Receiver(CaptureStack& stack, MessagePump& pump, const TextCodec& codec, ExchangeGate& gate = OpenGate(),
           ReceiverLocks& locks = FreeLocks(), std::uint32_t turnWaitMs = 0)
      : m_link(stack, gate), m_settings(m_link, pump, codec, locks, turnWaitMs) {}
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  ReceiverLink& Link() { return m_link; }
  ReceiverSettings& Settings() { return m_settings; }

  // Whether the receiver answers now (its short version), in a turn of its
  // own or inside the caller's. The kept receiver is asked; with none kept,
  // the one the probe unit finds is kept and asked. A kept receiver that
  // does not answer is dropped and the probe unit asked once more: a device
  // that left and came back is a new device, and the interface kept from
  // before never answers again.
  bool Answers(TurnWait wait = TurnWait::Bounded) {
    if (m_settings.IsBusy()) return false;
    const bool wasKept = m_settings.Device() != nullptr;
    if (AnswersInTurn(wait)) return true;
    if (!wasKept || m_settings.LastRefusal() != TurnOutcome::Held) return false;
    return AnswersFoundAfresh(wait);
  }
  // The same after dropping the kept receiver, so that one that left and
  // came back is found as the new device it is.
  bool AnswersFoundAfresh(TurnWait wait = TurnWait::Bounded) {
    m_settings.ReleaseDevice();
    return AnswersInTurn(wait);
  }
  // Lets go of the kept receiver (at teardown, before the platform's
  // apartment goes).
  void Release() { m_settings.ReleaseDevice(); }

 private:
  bool AnswersInTurn(TurnWait wait) {
    const ReceiverTurn turn(m_settings, wait);
    return turn.Held() && !m_settings.ReadShortVersion(turn).empty();
  }

  ReceiverLink m_link;
  ReceiverSettings m_settings;
};

}  // namespace nerova::link
