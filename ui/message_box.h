#pragma once
// Modal message boxes. Tests may install a handler that receives each box
// instead of the screen; without one the real MessageBoxW runs.
#include <windows.h>

#include <functional>
#include <string>

#include "ui/scoped_override.h"

namespace nerova::ui {

// The caption of the program's own boxes.
inline constexpr wchar_t kApplicationName[] = L"Nerova Wireless Receiver Setting";

struct MessageBoxRequest {
  HWND owner = nullptr;
  std::wstring text;
  std::wstring caption;
  UINT type = MB_OK;
};

// A box captioned with the application's name, owned by `owner` (may be null).
// Returns the button pressed (IDOK, ...), or 0 without a box on a thread
// that is being stopped (thread_stop.h).
int ShowMessage(HWND owner, const std::wstring& text, UINT type = MB_OK);
// A box with a caption of its own.
int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type);

using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// While it lives, every box of the process goes to `handler`, whose result
// stands for the button pressed.
using ScopedMessageBoxHandler = ScopedOverride<MessageBoxHandler>;

}  // namespace nerova::ui
