#pragma once
// Number parsing with the C runtime's _wtoi rules, written out so every build
// parses the receiver's answers alike.
#include <cstdint>
#include <string_view>

namespace nerova::link {

// Skips leading white space (space, tab, line feed, vertical tab, form feed,
// carriage return), takes an optional sign and the decimal digits after it;
// 0 when there are none. Values beyond 32 bits clamp to the nearest limit,
// as the Windows runtime does.
std::int32_t WideToInt(std::wstring_view text);

}  // namespace nerova::link
