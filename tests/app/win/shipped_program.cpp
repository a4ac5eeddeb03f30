#include "tests/app/win/shipped_program.h"

#include <commctrl.h>


#include "app/app_messages.h"
#include "resources/resource_ids.h"
#include "tests/ui/win_test_support.h"

namespace nerova::app::testing {
namespace {

// The build's program, through the drive that Wine maps to the root.
constexpr wchar_t kProgramPath[] = NEROVA_SHIPPED_PROGRAM;
constexpr wchar_t kSettingsCaption[] = L"Nerova Wireless Receiver Setting V1.1";

struct ProcessWindows {
  DWORD processId;
  std::vector<HWND> windows;
};

std::vector<HWND> TopLevelWindowsOf(DWORD processId) {
  ProcessWindows found{processId, {}};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& f = *reinterpret_cast<ProcessWindows*>(data);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == f.processId) f.windows.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

// WM_GETTEXT, which reaches controls of another process (GetWindowTextW
// gives only their creation text there).
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           5000, &copied)) {
    return {};
  }
  text.resize(copied);
  return text;
}

}  // namespace

ShippedProgram::ShippedProgram() {
  std::wstring command = std::wstring(L"\"") + kProgramPath + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &m_process)) {
    m_process = {};
  }
}

ShippedProgram::~ShippedProgram() {
  if (!Started()) return;
  // A program a test left running ends through its tray menu, as a user
  // ends it; only one that does not is terminated.
  if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT && !(ChooseTrayExit() && WaitForEnd(10000))) {
    TerminateProcess(m_process.hProcess, 1);
    WaitForSingleObject(m_process.hProcess, 10000);
  }
  CloseHandle(m_process.hThread);
  CloseHandle(m_process.hProcess);
}

bool ShippedProgram::WaitForEnd(DWORD timeoutMs) {
  return WaitForSingleObject(m_process.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

std::vector<HWND> ShippedProgram::TopLevelWindows() const { return TopLevelWindowsOf(m_process.dwProcessId); }

std::vector<HWND> ShippedProgram::SettingsWindows() const {
  std::vector<HWND> settings;
  for (HWND window : TopLevelWindowsOf(m_process.dwProcessId)) {
    if (IsWindowVisible(window) && TextOf(window) == kSettingsCaption) settings.push_back(window);
  }
  return settings;
}

HWND ShippedProgram::WaitForSettingsWindow() const {
  HWND found = nullptr;
  test::WaitUntil(
      [&] {
        const std::vector<HWND> windows = SettingsWindows();
        found = windows.size() == 1 ? windows[0] : nullptr;
        return found != nullptr;
      },
      60000);
  return found;
}

HWND ShippedProgram::Host() const {
  for (HWND window : TopLevelWindowsOf(m_process.dwProcessId)) {
    if (GetWindowThreadProcessId(window, nullptr) == m_process.dwThreadId && test::ClassName(window) == L"#32770") {
      return window;
    }
  }
  return nullptr;
}

HWND ShippedProgram::Box(std::wstring* text) const {
  for (HWND window : TopLevelWindowsOf(m_process.dwProcessId)) {
    if (!IsWindowVisible(window) || test::ClassName(window) != L"#32770") continue;
    const HWND label = GetDlgItem(window, 0xFFFF);
    if (!label) continue;
    if (text) *text = TextOf(label);
    return window;
  }
  return nullptr;
}

HWND ShippedProgram::WaitForBox(std::wstring* text) const {
  HWND box = nullptr;
  test::WaitUntil([&] { return (box = Box(text)) != nullptr; }, 60000);
  return box;
}

bool ShippedProgram::ChooseTrayExit() const {
  const HWND host = Host();
  if (!host) return false;
  PostMessageW(host, WM_TRAYICON, IDI_APP, WM_RBUTTONUP);
  HWND menu = nullptr;
  const bool opened = test::WaitUntil([&] {
    for (HWND window : TopLevelWindowsOf(m_process.dwProcessId)) {
      if (IsWindowVisible(window) && test::ClassName(window) == L"#32768") menu = window;
    }
    return menu != nullptr;
  });
  if (!opened) return false;
  PostMessageW(menu, WM_CHAR, L'e', 0);
  return true;
}

std::wstring ControlText(HWND window, int id) { return TextOf(GetDlgItem(window, id)); }

bool ControlEnabled(HWND window, int id) { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; }

void SetControlText(HWND window, int id, const std::wstring& text) {
  SendMessageW(GetDlgItem(window, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND window, int id) { PostMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0); }

void SelectComboItem(HWND window, int id, int index) {
  const HWND combo = GetDlgItem(window, id);
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

void Dismiss(HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }

}  // namespace nerova::app::testing
