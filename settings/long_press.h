#pragma once
// The receiver's long-press time, in tenths of a second, as the hidden slider
// holds it.
#include <cstdint>
#include <string>

namespace nerova::settings {

inline constexpr std::int32_t kLongPressMin = 20;    // 2.0 s
inline constexpr std::int32_t kLongPressMax = 200;   // 20.0 s
inline constexpr std::int32_t kLongPressStart = 24;  // the slider before any load

// What the slider makes of a position outside its range: the nearer bound.
std::int32_t ClampLongPress(std::int32_t tenths);
// "2.4(s)" for 24: the position divided by ten in single precision, one decimal.
std::wstring LongPressText(std::int32_t tenths);

}  // namespace nerova::settings
