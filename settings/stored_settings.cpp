#include "settings/stored_settings.h"

#include <optional>

namespace nerova::settings {

StoredSettings ReadStoredSettings(const link::ReceiverTurn& turn, link::ReceiverSettings& settings,
                                  link::MessagePump& pump) {
  StoredSettings stored;
  const unsigned unansweredBefore = settings.UnansweredReads();
  stored.firmwareVersion = settings.ReadFirmwareVersion(turn);
  stored.url = settings.ReadText(turn, link::CMD_URL);
  pump.PumpWait(kReadPauseMs);
  stored.wifiName = settings.ReadWifiName(turn);
  pump.PumpWait(kReadPauseMs);
  stored.wifiPassword = settings.ReadWifiPassword(turn);
  stored.editableValuesRead = settings.UnansweredReads() == unansweredBefore;
  pump.PumpWait(kReadPauseMs);
  stored.rssi = settings.ReadRssi(turn);
  pump.PumpWait(kReadPauseMs);
  settings.ReadResolution(turn, stored.resolutionWidth, stored.resolutionHeight);
  pump.PumpWait(kReadPauseMs);
  const std::optional<std::int32_t> longPressTime = settings.ReadLongPressTimeAnswer(turn);
  stored.longPressTime = longPressTime.value_or(link::kLongPressTimeFailed);
  stored.longPressTimeAnswered = longPressTime.has_value();
  pump.PumpWait(kReadPauseMs);
  const std::optional<bool> agingTest = settings.ReadAgingTestAnswer(turn);
  stored.agingTest = agingTest.value_or(false);
  stored.agingTestAnswered = agingTest.has_value();
  return stored;
}

}  // namespace nerova::settings
