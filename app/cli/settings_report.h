#pragma once
// How nerova-cli shows a receiver's settings: aligned lines for people, or
// one JSON object for scripts.
#include <cstdint>
#include <string>
#include <vector>

#include "settings/stored_settings.h"

namespace nerova::cli {

// "-52 (good)"; a reading that is none: "0 (no signal)"; a failed read says so.
std::wstring SignalText(std::int32_t rssi);
// "2.4 s" for 24 tenths.
std::wstring LongPressTimeText(std::int32_t tenths);

std::vector<std::wstring> SettingsLines(const settings::StoredSettings& stored);
// {"mode":"Auto","model":"RC300W",...}; the model is null in Manual mode,
// the RSSI null when it could not be read.
std::wstring SettingsJson(const settings::StoredSettings& stored);

}  // namespace nerova::cli
