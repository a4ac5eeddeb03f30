#pragma once
// The "?" button's work: the help overlay over the settings window.
#include <windows.h>

#include <string>
#include <vector>

#include "widgets/help_layout.h"

namespace nerova::widgets {

// The marks for the controls of `settingsWindow`: each target's client
// rectangle in screen coordinates, the texts chosen by `mode`.
std::vector<HelpItem> CollectHelpItems(HWND settingsWindow, const std::wstring& mode);

// Builds a new overlay without a parent, gives it the marks, runs it modally
// on the calling thread until it is closed, and destroys it.
void ShowHelpOverlay(HWND settingsWindow, const std::wstring& mode);

}  // namespace nerova::widgets
