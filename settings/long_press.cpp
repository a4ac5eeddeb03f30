#include "settings/long_press.h"

#include <algorithm>
#include <cstdio>

namespace nerova::settings {

std::int32_t ClampLongPress(std::int32_t tenths) {
  return std::clamp(tenths, kLongPressMin, kLongPressMax);
}

std::wstring LongPressText(std::int32_t tenths) {
  const float seconds = static_cast<float>(tenths) / 10.0f;
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%.01f(s)", static_cast<double>(seconds));
  if (n <= 0) return {};
  // The text is plain ASCII digits, point, sign and "(s)".
  return std::wstring(text, text + std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 1));
}

}  // namespace nerova::settings
