#include "settings/stored_settings.h"

#include <optional>

namespace nerova::settings {

StoredSettings ReadStoredSettings(const link::ReceiverTurn& turn, link::ReceiverSettings& settings,
                                  link::MessagePump& pump) {
  StoredSettings stored;
  auto note = [&](StoredValue value) { stored.answered.set(static_cast<unsigned>(value), settings.LastReadAnswered()); };
  const unsigned unansweredBefore = settings.UnansweredReads();
  stored.firmwareVersion = settings.ReadFirmwareVersion(turn);
  note(StoredValue::FirmwareVersion);
  stored.url = settings.ReadText(turn, link::CMD_URL);
  note(StoredValue::Url);
  pump.PumpWait(kReadPauseMs);
  stored.wifiName = settings.ReadWifiName(turn);
  note(StoredValue::WifiName);
  pump.PumpWait(kReadPauseMs);
  stored.wifiPassword = settings.ReadWifiPassword(turn);
  note(StoredValue::WifiPassword);
  stored.editableValuesRead = settings.UnansweredReads() == unansweredBefore;
  pump.PumpWait(kReadPauseMs);
  stored.rssi = settings.ReadRssi(turn);
  note(StoredValue::Rssi);
  pump.PumpWait(kReadPauseMs);
  settings.ReadResolution(turn, stored.resolutionWidth, stored.resolutionHeight);
  note(StoredValue::Resolution);
  pump.PumpWait(kReadPauseMs);
  const std::optional<std::int32_t> longPressTime = settings.ReadLongPressTimeAnswer(turn);
  stored.longPressTime = longPressTime.value_or(link::kLongPressTimeFailed);
  note(StoredValue::LongPressTime);
  pump.PumpWait(kReadPauseMs);
  const std::optional<bool> agingTest = settings.ReadAgingTestAnswer(turn);
  stored.agingTest = agingTest.value_or(false);
  note(StoredValue::AgingTest);
  stored.unansweredReads = settings.UnansweredReads() - unansweredBefore;
  return stored;
}

}  // namespace nerova::settings
