#include "settings/signal_level.h"

namespace nerova::settings {

bool IsNoReading(std::int32_t rssi) { return rssi == 0 || rssi == -1 || rssi < -200; }

SignalPicture SignalPictureFor(std::int32_t rssi) {
  if (IsNoReading(rssi)) return SignalPicture::NoSignal;
  if (rssi >= -50) return SignalPicture::Excellent;
  if (rssi >= -60) return SignalPicture::Good;
  if (rssi >= -70) return SignalPicture::Fair;
  return SignalPicture::Weak;
}

std::wstring RssiNumberText(std::int32_t rssi) {
  if (IsNoReading(rssi)) return {};
  return std::to_wstring(rssi);
}

}  // namespace nerova::settings
