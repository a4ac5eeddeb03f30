#pragma once
// How nerova-cli shows a receiver's settings and signal to people: aligned
// lines, a value the receiver did not answer as "unknown".
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/cli/receiver_choice.h"
#include "settings/camera_model.h"
#include "settings/stored_settings.h"

namespace nerova::cli {

// "-52 (good)"; a reading that is none: "0 (no signal)"; a failed read says so.
std::wstring SignalText(std::int32_t rssi);
// "excellent", "good", "fair", "weak" or "no signal".
std::wstring_view SignalLevelName(std::int32_t rssi);
// "2.4 s" for 24 tenths.
std::wstring LongPressTimeText(std::int32_t tenths);
// The mode and model a stored URL stands for (no model in Manual mode).
std::pair<std::wstring_view, const settings::CameraModel*> ModeOf(const std::wstring& url);

std::vector<std::wstring> SettingsLines(const AttachedReceiver& receiver, const settings::StoredSettings& stored);

}  // namespace nerova::cli
