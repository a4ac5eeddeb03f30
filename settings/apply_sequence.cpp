#include "settings/apply_sequence.h"

namespace nerova::settings {

ApplySequence::ApplySequence(link::ReceiverLink& link, link::ReceiverSettings& settings, link::MessagePump& pump)
    : m_whole(link), m_settings(settings), m_pump(pump) {}

bool ApplySequence::Write(const Configuration& configuration) {
  if (!m_settings.WriteUrl(configuration.url)) return false;
  m_pump.PumpWait(kWritePauseMs);
  if (!m_settings.WriteWifiName(configuration.wifiName)) return false;
  m_pump.PumpWait(kWritePauseMs);
  if (!m_settings.WriteWifiPassword(configuration.wifiPassword)) return false;
  m_pump.PumpWait(kWritePauseMs);
  if (configuration.longPressTime) {
    m_settings.WriteLongPressTime(*configuration.longPressTime);
    m_pump.PumpWait(kWritePauseMs);
  }
  if (configuration.agingTest) {
    m_settings.WriteAgingTest(*configuration.agingTest);
    m_pump.PumpWait(kWritePauseMs);
  }
  // Only the restart is left; whatever the caller shows the user before it,
  // it goes out even if the caller is stopped meanwhile.
  m_whole.ReserveLastExchange();
  return true;
}

link::LinkStatus ApplySequence::Restart() { return m_settings.RequestReboot(); }

}  // namespace nerova::settings
