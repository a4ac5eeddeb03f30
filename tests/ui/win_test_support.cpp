#include "tests/ui/win_test_support.h"

#include <commctrl.h>

#include <mutex>
#include <string>

namespace nerova::test {

namespace {
constexpr UINT kMsgRunScript = WM_APP + 0x31;
}  // namespace

void InitCommonControlsForTests() {
  static std::once_flag once;
  std::call_once(once, [] {
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&init);
  });
}

void PumpPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    PumpPending();
    if (condition()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(10);
  }
}

std::vector<HWND> ThreadWindows(DWORD threadId) {
  std::vector<HWND> windows;
  EnumThreadWindows(
      threadId,
      [](HWND window, LPARAM list) {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

HWND WaitForThreadDialog(DWORD threadId, const std::function<bool(HWND)>& match, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : ThreadWindows(threadId)) {
          if (IsWindowVisible(window) && ClassName(window) == L"#32770" && match(window)) {
            found = window;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

RECT ClientRectOnScreen(HWND window) {
  RECT rc{};
  GetClientRect(window, &rc);
  POINT corners[2] = {{rc.left, rc.top}, {rc.right, rc.bottom}};
  ClientToScreen(window, &corners[0]);
  ClientToScreen(window, &corners[1]);
  return RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

COLORREF PixelAt(HWND window, int x, int y) {
  HDC dc = GetDC(window);
  const COLORREF colour = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return colour;
}

INT_PTR ScriptedDialog::RunScript(Script script, HWND owner) {
  m_script = std::move(script);
  return RunModal(owner);
}

bool ScriptedDialog::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  PostMessageW(Handle(), kMsgRunScript, 0, 0);
  return true;
}

std::optional<LRESULT> ScriptedDialog::OnPrivateMessage(UINT message, WPARAM, LPARAM) {
  if (message != kMsgRunScript) return std::nullopt;
  Script script = std::move(m_script);
  m_script = nullptr;
  if (script) script(*this);
  if (m_endAfterScript) EndModal(kScriptEnded);
  return 0;
}

CapturedBoxes::CapturedBoxes()
    : m_scope([this](const ui::MessageBoxRequest& request) {
        std::lock_guard lock(m_mutex);
        m_boxes.push_back(request);
        return IDOK;
      }) {}

std::vector<ui::MessageBoxRequest> CapturedBoxes::Boxes() const {
  std::lock_guard lock(m_mutex);
  return m_boxes;
}

std::vector<std::wstring> CapturedBoxes::Texts() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::wstring> texts;
  for (const ui::MessageBoxRequest& box : m_boxes) texts.push_back(box.text);
  return texts;
}

}  // namespace nerova::test
