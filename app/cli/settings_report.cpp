#include "app/cli/settings_report.h"

#include <string_view>
#include <utility>

#include "settings/camera_model.h"
#include "settings/signal_level.h"

namespace nerova::cli {
namespace {

std::wstring_view SignalLevelName(settings::SignalPicture level) {
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

// The mode and model a stored URL stands for.
std::pair<std::wstring_view, const settings::CameraModel*> ModeOf(const std::wstring& url) {
  const settings::CameraModel* model = settings::ModelForStoredUrl(url);
  return {model ? settings::kModeAuto : settings::kModeManual, model};
}

std::wstring Line(std::wstring_view label, const std::wstring& value) {
  std::wstring line(label);
  line.resize(17, L' ');
  return line + value;
}

std::wstring JsonString(std::wstring_view text) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring quoted = L"\"";
  for (wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      quoted += L'\\';
      quoted += c;
    } else if (static_cast<std::uint32_t>(c) < 0x20) {
      quoted += L"\\u00";
      quoted += kHex[(c >> 4) & 0xF];
      quoted += kHex[c & 0xF];
    } else {
      quoted += c;
    }
  }
  return quoted + L"\"";
}

}  // namespace

std::wstring SignalText(std::int32_t rssi) {
  if (rssi == link::kRssiFailed) return L"none (the receiver did not answer)";
  return std::to_wstring(rssi) + L" (" + std::wstring(SignalLevelName(settings::SignalPictureFor(rssi))) + L")";
}

std::wstring LongPressTimeText(std::int32_t tenths) {
  const std::wstring sign = tenths < 0 ? L"-" : L"";
  const std::int64_t magnitude = tenths < 0 ? -static_cast<std::int64_t>(tenths) : tenths;
  return sign + std::to_wstring(magnitude / 10) + L"." + std::to_wstring(magnitude % 10) + L" s";
}

std::vector<std::wstring> SettingsLines(const settings::StoredSettings& stored) {
  const auto [mode, model] = ModeOf(stored.url);
  return {
      Line(L"Mode", std::wstring(mode)),
      Line(L"Camera model", model ? std::wstring(model->name) : L"-"),
      Line(L"Stream URL", stored.url),
      Line(L"Wi-Fi name", stored.wifiName),
      Line(L"Wi-Fi password", stored.wifiPassword),
      Line(L"Resolution", std::to_wstring(stored.resolutionWidth) + L" x " + std::to_wstring(stored.resolutionHeight)),
      Line(L"Long-press time", LongPressTimeText(stored.longPressTime)),
      Line(L"Aging test", stored.agingTest ? L"on" : L"off"),
      Line(L"Firmware", stored.firmwareVersion),
      Line(L"RSSI", SignalText(stored.rssi)),
  };
}

std::wstring SettingsJson(const settings::StoredSettings& stored) {
  const auto [mode, model] = ModeOf(stored.url);
  return L"{\"mode\":" + JsonString(mode) + L",\"model\":" + (model ? JsonString(model->name) : L"null") +
         L",\"url\":" + JsonString(stored.url) + L",\"wifiName\":" + JsonString(stored.wifiName) +
         L",\"wifiPassword\":" + JsonString(stored.wifiPassword) + L",\"resolution\":{\"width\":" +
         std::to_wstring(stored.resolutionWidth) + L",\"height\":" + std::to_wstring(stored.resolutionHeight) +
         L"},\"longPressTime\":" + std::to_wstring(stored.longPressTime) + L",\"agingTest\":" +
         (stored.agingTest ? L"true" : L"false") + L",\"firmwareVersion\":" + JsonString(stored.firmwareVersion) +
         L",\"rssi\":" + (stored.rssi == link::kRssiFailed ? L"null" : std::to_wstring(stored.rssi)) + L",\"signalLevel\":" +
         JsonString(SignalLevelName(settings::SignalPictureFor(stored.rssi))) + L"}";
}

}  // namespace nerova::cli
