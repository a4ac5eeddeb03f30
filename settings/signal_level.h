#pragma once
// How an RSSI reading is shown: one of five pictures, or the bare number.
#include <cstdint>
#include <string>

namespace nerova::settings {

enum class SignalPicture {
  NoSignal,   // PNG 143
  Excellent,  // PNG 139
  Good,       // PNG 140
  Fair,       // PNG 141
  Weak,       // PNG 142
};

// 0 and -1 are what the receiver reports without a camera link; anything
// below -200 is not a real reading (a failed read gives -10000).
bool IsNoReading(std::int32_t rssi);
SignalPicture SignalPictureFor(std::int32_t rssi);
// The number view's text: the reading in decimal, or empty for no reading.
std::wstring RssiNumberText(std::int32_t rssi);

}  // namespace nerova::settings
