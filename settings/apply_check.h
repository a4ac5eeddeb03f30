#pragma once
// The checks Apply makes before it writes anything: each field present after
// trimming, sendable in the receiver's code page as written, and small
// enough for one command block of the receiver.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "link/receiver_settings.h"
#include "link/text_codec.h"
#include "settings/configuration.h"

namespace nerova::settings {

// Leading and trailing blanks, tabs and line ends removed, in place.
void TrimInPlace(std::wstring& text);

// One text field as the receiver gets it: `key` (may be empty) followed by
// the value, encoded in the receiver's code page.
struct WireField {
  std::wstring_view label;  // the field's name in messages
  std::wstring_view key;
  // Characters the window's edit takes, 0 for no limit. Every front end
  // holds values to it, so that what one sets the window can show whole.
  std::size_t characterLimit;
  // Bytes the value itself may take in the receiver's code page, whatever
  // room the block has; 0 for no limit of its own.
  std::size_t byteLimit;
};

// A Wi-Fi network name (SSID) is at most 32 bytes: the receiver would store
// a longer one and never find the camera's network.
inline constexpr std::size_t kSsidMaxBytes = 32;

inline constexpr WireField kUrlField{L"Url", L"", 54, 0};
inline constexpr WireField kWifiNameField{L"Wifi Name", L"wifiname=", 0, kSsidMaxBytes};
inline constexpr WireField kPasswordField{L"Password", L"wifipassword=", 24, 0};

// Bytes the value may take on the wire: the block's text room less the key.
std::size_t ValueLimitBytes(const WireField& field);
// The message for a value whose encoding takes more than that.
std::wstring TooLongForReceiverMessage(const WireField& field);
// The message for a value whose encoding takes more than the field's own
// byte limit.
std::wstring TooManyBytesMessage(const WireField& field);
// The message for a value of more characters than the field takes.
std::wstring TooManyCharactersMessage(const WireField& field);
// The message for a value that the code page of the wire cannot hold as
// written.
std::wstring NotSendableToReceiverMessage(const WireField& field);

// Checks one text as Apply would before writing it: held to the field's
// character limit as given, then trimmed in place, present, sendable,
// within its own byte limit and small enough for the block. The message
// when it is refused, none when it may go out.
std::optional<std::wstring> CheckField(std::wstring& value, const WireField& field, std::wstring_view emptyMessage,
                                       const link::TextCodec& codec);

// Checks the three texts in the order they are written, each held to its
// field's character limit as given, then trimmed in place, present,
// sendable, within its own byte limit and small enough for the block: the
// message for the first one refused, none when the whole configuration may
// go out.
std::optional<std::wstring> CheckConfiguration(Configuration& configuration, const link::TextCodec& codec);
std::optional<std::wstring> CheckConfiguration(Configuration& configuration, const link::ReceiverSettings& settings);

}  // namespace nerova::settings
