// Process start: common controls and GDI+, then the settings window, run
// modally on this thread until it closes.
#include <windows.h>

#include <commctrl.h>

#include "settings/win/orlenk_dlg.h"
#include "widgets/gdiplus_session.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);
  nerova::widgets::GdiplusSession gdiplus;

  nerova::settings::win::COrlenkDlg dialog;
  return static_cast<int>(dialog.RunModal());
}
