#include "widgets/help_overlay.h"

#include "widgets/transparent_dlg.h"

namespace nerova::widgets {

std::vector<HelpItem> CollectHelpItems(HWND settingsWindow, const std::wstring& mode) {
  return BuildHelpItems(mode, [settingsWindow](int id) -> std::optional<HelpRect> {
    HWND control = GetDlgItem(settingsWindow, id);
    if (!control) return std::nullopt;
    RECT rc{};
    GetClientRect(control, &rc);
    // Both corners: the client area without the control's border.
    POINT corners[2] = {{rc.left, rc.top}, {rc.right, rc.bottom}};
    ClientToScreen(control, &corners[0]);
    ClientToScreen(control, &corners[1]);
    return HelpRect{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
  });
}

void ShowHelpOverlay(HWND settingsWindow, const std::wstring& mode) {
  CTransparentDlg overlay;
  overlay.m_items = CollectHelpItems(settingsWindow, mode);
  overlay.RunModal(nullptr);
}

}  // namespace nerova::widgets
