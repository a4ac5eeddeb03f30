#pragma once
// The two camera models the receiver is sold with, and how the window tells
// them apart: the receiver stores only the stream URL, so the setting mode and
// the model are derived from it at every load.
#include <array>
#include <string>
#include <string_view>

namespace nerova::settings {

inline constexpr std::wstring_view kModeAuto = L"Auto";
inline constexpr std::wstring_view kModeManual = L"Manual";

struct CameraModel {
  std::wstring_view name;
  // Compared whole and case-sensitively with the stored URL, and written whole.
  std::wstring_view defaultUrl;
  // The beginning of the camera's network name; the user completes it from
  // the label on the bottom of the camera.
  std::wstring_view defaultWifiName;
  std::wstring_view defaultWifiPassword;
};

// In the order of the model combo's items.
inline constexpr std::array<CameraModel, 2> kCameraModels{{
    {L"RC300W", L"rtsp://192.168.1.200/video1.sdp", L"TAVI_5G_", L"97531864"},
    {L"RD700/RC60H5", L"rtsp://192.168.1.100/video0", L"TAVI-", L"24681357"},
}};

inline constexpr std::wstring_view kInitialModel = L"RC300W";

// The table entry named exactly `name`, or null.
const CameraModel* FindCameraModel(std::wstring_view name);

// The model whose default URL equals `url` exactly ("RD700/RC60H5" is tested
// first), or null: such a URL was typed by hand and means Manual mode.
const CameraModel* ModelForStoredUrl(std::wstring_view url);

// The URL an Apply writes: in Auto mode the chosen model's own (none for a
// name that is no model), in Manual mode the one typed.
std::wstring UrlToWrite(std::wstring_view mode, std::wstring_view model, std::wstring_view typedUrl);

}  // namespace nerova::settings
