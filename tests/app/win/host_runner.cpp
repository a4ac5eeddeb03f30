#include "tests/app/win/host_runner.h"

#include <windows.h>
#include <dbt.h>
#include <tlhelp32.h>

#include "app/app_messages.h"
#include "resources/resource_ids.h"
#include "tests/ui/win_test_support.h"

namespace nerova::app::testing {

std::vector<IconCall> RecordingHost::IconCalls() const {
  std::lock_guard lock(m_mutex);
  return m_calls;
}

BOOL RecordingHost::NotifyIcon(DWORD message, NOTIFYICONDATAW& data) {
  {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(IconCall{message, data});
  }
  return MainDlg::NotifyIcon(message, data);
}

HostRunner::HostRunner() {
  // Each host starts as the program's only one would, with the process-wide
  // values as a fresh process has them.
  g_bSettingsClosed = false;
  g_bHideOnFirstErase = true;
  m_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_threadsDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_thread = std::thread([this] {
    m_host.RunModal();
    SetEvent(m_ended);
    m_threadsEnded = m_host.WaitForSettingsThreads(kTimeoutMs);
    SetEvent(m_threadsDone);
  });
  test::WaitUntil([this] { return Host() != nullptr; });
  if (HWND host = Host()) m_hostThreadId = GetWindowThreadProcessId(host, nullptr);
  WaitForSettingsWindow();
}

HostRunner::~HostRunner() {
  if (!Ended()) {
    PostExit();
    WaitForEnd();
  }
  if (m_thread.joinable()) m_thread.join();
  CloseHandle(m_ended);
  CloseHandle(m_threadsDone);
}

HWND HostRunner::WaitForSettingsWindow(HWND other) const {
  HWND found = nullptr;
  test::WaitUntil([&] {
    std::vector<HWND> windows = VisibleSettingsWindows();
    if (windows.size() != 1 || windows.front() == other) return false;
    found = windows.front();
    return true;
  });
  return found;
}

bool HostRunner::WaitForEnd(DWORD timeoutMs) { return WaitForSingleObject(m_ended, timeoutMs) == WAIT_OBJECT_0; }

bool HostRunner::ThreadsEnded() const {
  return WaitForSingleObject(m_threadsDone, 2 * kTimeoutMs) == WAIT_OBJECT_0 && m_threadsEnded;
}

bool HostRunner::Ended() const { return WaitForSingleObject(m_ended, 0) == WAIT_OBJECT_0; }

LRESULT HostRunner::SendDeviceChange(WPARAM event, DWORD deviceType) const {
  DEV_BROADCAST_HDR header{};
  header.dbch_size = sizeof header;
  header.dbch_devicetype = deviceType;
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(Host(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&header), SMTO_NORMAL,
                      kTimeoutMs, &answer);
  return static_cast<LRESULT>(answer);
}

void HostRunner::PostTrayCallback(UINT mouseMessage) const {
  PostMessageW(Host(), WM_TRAYICON, IDI_APP, mouseMessage);
}

void HostRunner::PostExit() const { PostMessageW(Host(), WM_COMMAND, MAKEWPARAM(ID_TRAY_EXIT, 0), 0); }

std::vector<HWND> VisibleSettingsWindows() {
  struct Search {
    std::vector<HWND> found;
  } search;
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
            test::ClassName(window) == L"#32770" && test::WindowText(window) == kSettingsCaption) {
          reinterpret_cast<Search*>(parameter)->found.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int ProcessThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

DWORD WindowThread(HWND window) { return GetWindowThreadProcessId(window, nullptr); }

}  // namespace nerova::app::testing
