#include "settings/apply_sequence.h"

namespace nerova::settings {

ApplySequence::ApplySequence(link::ReceiverSettings& settings, link::MessagePump& pump)
    : m_settings(settings),
      m_pump(pump),
      m_whole(settings, link::TurnWait::Bounded, link::TurnScope::WholeSequence) {}

bool ApplySequence::Write(const Configuration& configuration) {
  if (!m_settings.WriteUrl(m_whole, configuration.url)) return false;
  m_pump.PumpWait(kWritePauseMs);
  if (!m_settings.WriteWifiName(m_whole, configuration.wifiName)) return false;
  m_pump.PumpWait(kWritePauseMs);
  if (!m_settings.WriteWifiPassword(m_whole, configuration.wifiPassword)) return false;
  m_pump.PumpWait(kWritePauseMs);
  if (configuration.longPressTime) {
    m_settings.WriteLongPressTime(m_whole, *configuration.longPressTime);
    m_pump.PumpWait(kWritePauseMs);
  }
  if (configuration.agingTest) {
    m_settings.WriteAgingTest(m_whole, *configuration.agingTest);
    m_pump.PumpWait(kWritePauseMs);
  }
  // Only the restart is left; whatever the caller shows the user before it,
  // it goes out even if the caller is stopped meanwhile.
  m_whole.ReserveLastExchange();
  return true;
}

link::LinkStatus ApplySequence::Restart() { return m_settings.RequestReboot(m_whole); }

}  // namespace nerova::settings
