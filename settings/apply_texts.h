#pragma once
// What the settings window's commands tell the user.
#include <string_view>

namespace nerova::settings {

inline constexpr std::wstring_view kUrlEmpty = L"Url should not be empty";
inline constexpr std::wstring_view kWifiNameEmpty = L"Wifi Name should not be empty";
inline constexpr std::wstring_view kPasswordEmpty = L"Password should not be empty";
inline constexpr std::wstring_view kApplyFailed = L"Failed to set up the configuration";
// Another program (a second settings window's program, nerova-cli) kept the
// receiver for longer than kReceiverTurnWaitMs.
inline constexpr std::wstring_view kReceiverInUse =
    L"The receiver is in use by another program; try again once it is done";
inline constexpr std::wstring_view kApplySucceeded = L"The setup was successful and the device is now rebooting";

inline constexpr std::wstring_view kSetUrlOk = L"Set Url OK";
inline constexpr std::wstring_view kSetUrlFailed = L"Failed to Set Url";
inline constexpr std::wstring_view kSetWifiNameOk = L"Set WifiName OK";
inline constexpr std::wstring_view kSetWifiNameFailed = L"Failed to Set WifiName";
inline constexpr std::wstring_view kSetPasswordOk = L"Set Password OK";
inline constexpr std::wstring_view kSetPasswordFailed = L"Failed to Set Password";
inline constexpr std::wstring_view kSetResolutionOk = L"Set Resolution OK";
inline constexpr std::wstring_view kSetResolutionFailed = L"Failed to Set Resolution";

}  // namespace nerova::settings
