#pragma once
// The tray host's own messages, timer and periods.
#include <windows.h>

namespace nerova::app {

// Posted by a settings thread to the host when its window has closed by
// itself; wParam 0, lParam 0.
inline constexpr UINT WM_SETTINGS_CLOSED = WM_USER + 1000;  // 2024
// The tray icon's callback; lParam carries the mouse message.
inline constexpr UINT WM_TRAYICON = WM_USER + 1001;  // 2025

// The grace period a settings window gets to close after the tray's Exit.
inline constexpr UINT_PTR kExitTimerId = 1;
inline constexpr UINT kExitTimerPeriodMs = 1000;
// While a stopped settings thread finishes its Apply, the host looks at its
// grace time this often.
inline constexpr UINT_PTR kStopGraceTimerId = 2;
inline constexpr UINT kStopGraceTimerPeriodMs = 250;

// Between throwing a settings window away after a removal and starting the
// next one.
inline constexpr DWORD kRestartDelayMs = 300;

}  // namespace nerova::app
