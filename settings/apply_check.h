#pragma once
// The checks Apply makes before it writes anything: each field present after
// trimming, sendable in the receiver's code page as written, and small
// enough for one command block of the receiver.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "link/receiver_settings.h"
#include "settings/configuration.h"

namespace nerova::settings {

// Leading and trailing blanks, tabs and line ends removed, in place.
void TrimInPlace(std::wstring& text);

// One text field as the receiver gets it: `key` (may be empty) followed by
// the value, encoded in the receiver's code page.
struct WireField {
  std::wstring_view label;  // the field's name in messages
  std::wstring_view key;
};

inline constexpr WireField kUrlField{L"Url", L""};
inline constexpr WireField kWifiNameField{L"Wifi Name", L"wifiname="};
inline constexpr WireField kPasswordField{L"Password", L"wifipassword="};

// Bytes the value may take on the wire: the block's text room less the key.
std::size_t ValueLimitBytes(const WireField& field);
// The message for a value whose encoding takes more than that.
std::wstring TooLongForReceiverMessage(const WireField& field);
// The message for a value that the code page of the wire cannot hold as
// written.
std::wstring NotSendableToReceiverMessage(const WireField& field);

// Trims the three texts in place and checks them in the order they are
// written: the message for the first one refused, none when the whole
// configuration may go out.
std::optional<std::wstring> CheckConfiguration(Configuration& configuration, const link::ReceiverSettings& settings);

}  // namespace nerova::settings
