#include "app/orlenk_app.h"

#include <commctrl.h>

#include "app/main_dlg.h"
#include "widgets/gdiplus_session.h"

namespace nerova::app {

ULONG_PTR g_gdiplusToken = 0;

namespace {

// How long the end of the run waits for settings threads to let go of the
// receiver and COM before the process goes anyway.
constexpr DWORD kThreadEndWaitMs = 2000;

}  // namespace

int COrlenkApp::Run() {
  InitInstance();
  return ExitInstance();
}

bool COrlenkApp::InitInstance() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);

  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&g_gdiplusToken, &input, nullptr);

  MainDlg host(m_stack, m_locks);
  host.RunModal();
  m_bThreadsLeft = !host.WaitForSettingsThreads(kThreadEndWaitMs);
  return false;
}

int COrlenkApp::ExitInstance() {
  if (m_bThreadsLeft) ExitProcess(0);
  if (g_gdiplusToken != 0) Gdiplus::GdiplusShutdown(g_gdiplusToken);
  g_gdiplusToken = 0;
  return 0;
}

}  // namespace nerova::app
