#pragma once
// The device-interface class of every video camera (KSCATEGORY_VIDEO_CAMERA),
// whose removals the tray host hears of.
#include <windows.h>

namespace nerova::app {

// {E5323777-F976-4F5B-9B55-B94699C46E44}
inline constexpr GUID kVideoCameraCategory = {
    0xE5323777, 0xF976, 0x4F5B, {0x9B, 0x55, 0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44}};

}  // namespace nerova::app
