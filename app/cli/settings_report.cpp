#include "app/cli/settings_report.h"

#include <string_view>
#include <utility>

#include "settings/camera_model.h"
#include "settings/signal_level.h"

namespace nerova::cli {
namespace {

constexpr std::wstring_view kUnknown = L"unknown";

std::wstring_view LevelName(settings::SignalPicture level) {
  switch (level) {
    case settings::SignalPicture::Excellent:
      return L"excellent";
    case settings::SignalPicture::Good:
      return L"good";
    case settings::SignalPicture::Fair:
      return L"fair";
    case settings::SignalPicture::Weak:
      return L"weak";
    case settings::SignalPicture::NoSignal:
      break;
  }
  return L"no signal";
}

std::wstring Line(std::wstring_view label, const std::wstring& value) {
  std::wstring line(label);
  line.resize(17, L' ');
  return line + value;
}

}  // namespace

std::wstring_view SignalLevelName(std::int32_t rssi) { return LevelName(settings::SignalPictureFor(rssi)); }

std::pair<std::wstring_view, const settings::CameraModel*> ModeOf(const std::wstring& url) {
  const settings::CameraModel* model = settings::ModelForStoredUrl(url);
  return {model ? settings::kModeAuto : settings::kModeManual, model};
}

std::wstring SignalText(std::int32_t rssi) {
  if (rssi == link::kRssiFailed) return L"none (the receiver did not answer)";
  return std::to_wstring(rssi) + L" (" + std::wstring(SignalLevelName(rssi)) + L")";
}

std::wstring LongPressTimeText(std::int32_t tenths) {
  const std::wstring sign = tenths < 0 ? L"-" : L"";
  const std::int64_t magnitude = tenths < 0 ? -static_cast<std::int64_t>(tenths) : tenths;
  return sign + std::to_wstring(magnitude / 10) + L"." + std::to_wstring(magnitude % 10) + L" s";
}

std::vector<std::wstring> SettingsLines(const AttachedReceiver& receiver, const settings::StoredSettings& stored) {
  using settings::StoredValue;
  auto known = [&](StoredValue value, std::wstring text) {
    return stored.Answered(value) ? std::move(text) : std::wstring(kUnknown);
  };
  const auto [mode, model] = ModeOf(stored.url);
  const bool urlKnown = stored.Answered(StoredValue::Url);
  return {
      Line(L"Receiver", receiver.name),
      Line(L"Serial", receiver.serial.empty() ? std::wstring(kUnknown) : receiver.serial),
      Line(L"Port", receiver.port.empty() ? std::wstring(kUnknown) : receiver.port),
      Line(L"Mode", urlKnown ? std::wstring(mode) : std::wstring(kUnknown)),
      Line(L"Camera model", !urlKnown ? std::wstring(kUnknown) : model ? std::wstring(model->name) : L"-"),
      Line(L"Stream URL", known(StoredValue::Url, stored.url)),
      Line(L"Wi-Fi name", known(StoredValue::WifiName, stored.wifiName)),
      Line(L"Wi-Fi password", known(StoredValue::WifiPassword, stored.wifiPassword)),
      Line(L"Resolution", known(StoredValue::Resolution, std::to_wstring(stored.resolutionWidth) + L" x " +
                                                             std::to_wstring(stored.resolutionHeight))),
      Line(L"Long-press time", known(StoredValue::LongPressTime, LongPressTimeText(stored.longPressTime))),
      Line(L"Aging test", known(StoredValue::AgingTest, stored.agingTest ? L"on" : L"off")),
      Line(L"Firmware", known(StoredValue::FirmwareVersion, stored.firmwareVersion)),
      Line(L"RSSI", SignalText(stored.Answered(StoredValue::Rssi) ? stored.rssi : link::kRssiFailed)),
  };
}

}  // namespace nerova::cli
