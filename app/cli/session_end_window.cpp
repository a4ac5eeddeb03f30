#include "app/cli/session_end_window.h"

#include "app/cli/uninterruptible.h"
#include "ui/handles.h"

namespace nerova::cli::win {
namespace {

constexpr wchar_t kClassName[] = L"NerovaCliSessionEnd";
// Windows waits about 5 s for a window's answer before it offers to end
// the program anyway.
constexpr std::chrono::milliseconds kEndSessionGrace{4500};

}  // namespace

SessionEndWindow::SessionEndWindow(std::function<void()> stop) : m_stop(std::move(stop)) {
  const ui::KernelHandle created(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!created) return;
  m_thread = std::thread([this, event = created.Get()] { Run(event); });
  // The window exists (or could not be made) before any command starts.
  WaitForSingleObject(created.Get(), INFINITE);
}

SessionEndWindow::~SessionEndWindow() {
  if (m_window) PostMessageW(m_window, WM_CLOSE, 0, 0);
  if (m_thread.joinable()) m_thread.join();
}

void SessionEndWindow::Run(HANDLE created) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClassName;
  RegisterClassW(&windowClass);
  // A hidden top-level window: a message-only one is not asked.
  m_window = CreateWindowExW(0, kClassName, L"nerova-cli", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, this);
  SetEvent(created);
  if (!m_window) return;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

LRESULT CALLBACK SessionEndWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<SessionEndWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_QUERYENDSESSION:
      // The session may end: the command stops at its next look, and an
      // apply's configuration still goes out whole.
      if (self && self->m_stop) self->m_stop();
      return TRUE;
    case WM_ENDSESSION:
      if (wParam && self) {
        if (self->m_stop) self->m_stop();
        WaitUntilNoConfigurationGoingOut(kEndSessionGrace);
      }
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace nerova::cli::win
