#pragma once
// What an Apply writes to the receiver, in the order it goes out.
#include <cstdint>
#include <string>

namespace nerova::settings {

struct Configuration {
  std::wstring url;
  std::wstring wifiName;
  std::wstring wifiPassword;
  // Tenths of a second, as the receiver stores it.
  std::int32_t longPressTime = 0;
  bool agingTest = false;
};

}  // namespace nerova::settings
