#include "app/access_gate.h"

namespace nerova::app {

link::LinkStatus AccessGate::Run(const std::function<link::LinkStatus()>& exchange) {
  ReceiverExchange turn(m_access);
  if (!turn) return kAccessStopped;
  return exchange();
}

void AccessGate::HoldForWholeSequence(bool hold) {
  if (hold) {
    m_access.BeginHold();
    return;
  }
  if (m_access.EndHold() && m_stopTookEffect) m_stopTookEffect();
}

}  // namespace nerova::app
