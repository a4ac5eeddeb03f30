#include "settings/stored_settings.h"

namespace nerova::settings {

StoredSettings ReadStoredSettings(link::ReceiverSettings& settings, link::MessagePump& pump) {
  StoredSettings stored;
  stored.firmwareVersion = settings.ReadFirmwareVersion();
  stored.url = settings.ReadText(link::CMD_URL);
  pump.PumpWait(kReadPauseMs);
  stored.wifiName = settings.ReadWifiName();
  pump.PumpWait(kReadPauseMs);
  stored.wifiPassword = settings.ReadWifiPassword();
  pump.PumpWait(kReadPauseMs);
  stored.rssi = settings.ReadRssi();
  pump.PumpWait(kReadPauseMs);
  settings.ReadResolution(stored.resolutionWidth, stored.resolutionHeight);
  pump.PumpWait(kReadPauseMs);
  stored.longPressTime = settings.ReadLongPressTime();
  pump.PumpWait(kReadPauseMs);
  stored.agingTest = settings.ReadAgingTest();
  return stored;
}

}  // namespace nerova::settings
