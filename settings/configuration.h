#pragma once
// What an Apply writes to the receiver, in the order it goes out.
#include <cstdint>
#include <optional>
#include <string>

namespace nerova::settings {

struct Configuration {
  std::wstring url;
  std::wstring wifiName;
  std::wstring wifiPassword;
  // Tenths of a second, as the receiver stores it. These two are left out
  // when their value is not known (the receiver did not answer it and
  // nobody asked for one): the receiver keeps what it holds.
  std::optional<std::int32_t> longPressTime;
  std::optional<bool> agingTest;
};

}  // namespace nerova::settings
