#include "tests/settings/win/dialog_runner.h"

#include <vector>

#include "resources/resource_ids.h"
#include "settings/window_status.h"

namespace nerova::settings::win::testing {
namespace {

constexpr UINT kMsgRunTask = WM_APP + 1;
constexpr wchar_t kHelperClass[] = L"NerovaTestTaskWindow";

struct Task {
  COrlenkDlg* dialog;
  const std::function<void(COrlenkDlg&)>* body;
};

LRESULT CALLBACK HelperProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kMsgRunTask) {
    const Task& task = *reinterpret_cast<const Task*>(lParam);
    (*task.body)(*task.dialog);
    return 1;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
             const std::function<void()>& poke) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  auto nextPoke = std::chrono::steady_clock::now();
  for (;;) {
    if (poke && std::chrono::steady_clock::now() >= nextPoke) {
      poke();
      nextPoke = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    }
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    Sleep(15);
  }
}

DialogRunner::DialogRunner(link::CaptureStack& stack) {
  m_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_thread = std::thread([this, &stack, started] {
    WNDCLASSW helperClass{};
    helperClass.lpfnWndProc = HelperProcedure;
    helperClass.hInstance = GetModuleHandleW(nullptr);
    helperClass.lpszClassName = kHelperClass;
    RegisterClassW(&helperClass);  // a second registration fails harmlessly
    m_helper = CreateWindowExW(0, kHelperClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    m_threadId = GetCurrentThreadId();
    SetEvent(started);
    Run(stack);
    DestroyWindow(m_helper);
    SetEvent(m_ended);
  });
  WaitForSingleObject(started, 10000);
  CloseHandle(started);
  // The caption is the last thing start-up sets before the window shows.
  // Only this runner's thread counts: window tests of other processes run
  // beside this one in the same Wine session, with windows of that caption.
  WaitFor([this] {
    m_window = OwnSettingsWindow();
    return m_window != nullptr;
  });
  // The window shows before its first load, which says on the status line
  // what it found once it has run.
  if (m_window) {
    WaitFor([this] { return Idle([this](COrlenkDlg&) { return Text(IDC_STATUS) != StatusText(WindowStatus::Reading); }); });
  }
}

HWND DialogRunner::OwnSettingsWindow() const {
  struct Search {
    HWND found = nullptr;
  } search;
  EnumThreadWindows(
      m_threadId,
      [](HWND window, LPARAM parameter) -> BOOL {
        wchar_t className[16] = {};
        wchar_t caption[64] = {};
        GetClassNameW(window, className, 16);
        GetWindowTextW(window, caption, 64);
        if (IsWindowVisible(window) && lstrcmpW(className, L"#32770") == 0 &&
            lstrcmpW(caption, L"Nerova Wireless Receiver Setting V1.1") == 0) {
          reinterpret_cast<Search*>(parameter)->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void DialogRunner::Run(link::CaptureStack& stack) {
  std::unique_ptr<COrlenkDlg> dialog = std::make_unique<COrlenkDlg>(stack);
  SetWindowLongPtrW(m_helper, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(dialog.get()));
  m_result = dialog->RunModal();
  SetWindowLongPtrW(m_helper, GWLP_USERDATA, 0);
}

DialogRunner::~DialogRunner() {
  if (m_window && IsWindow(m_window)) PostMessageW(m_window, WM_CLOSE, 0, 0);
  if (m_thread.joinable()) m_thread.join();
  CloseHandle(m_ended);
}

bool DialogRunner::Join(std::chrono::milliseconds timeout) {
  const bool ended = WaitForSingleObject(m_ended, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
  if (ended && m_thread.joinable()) m_thread.join();
  return ended;
}

void DialogRunner::OnDialogThread(const std::function<void(COrlenkDlg&)>& task) {
  auto* dialog = reinterpret_cast<COrlenkDlg*>(GetWindowLongPtrW(m_helper, GWLP_USERDATA));
  if (!dialog) return;
  Task t{dialog, &task};
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(m_helper, kMsgRunTask, 0, reinterpret_cast<LPARAM>(&t), SMTO_NORMAL, 30000, &answer);
}

bool DialogRunner::Ask(const std::function<bool(COrlenkDlg&)>& question) {
  bool answer = false;
  OnDialogThread([&](COrlenkDlg& dialog) { answer = question(dialog); });
  return answer;
}

bool DialogRunner::Idle(const std::function<bool(COrlenkDlg&)>& question) {
  return Ask([&](COrlenkDlg& dialog) { return !dialog.Model().InExchange() && question(dialog); });
}

std::wstring DialogRunner::Text(int id) const {
  const HWND control = Item(id);
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), length + 1)));
  return text;
}

}  // namespace nerova::settings::win::testing
