#pragma once
// Runs the tray host on a thread of its own, as the program's main thread
// runs it, and watches it from the test: its tray icon calls, its settings
// windows, device notices sent to it as the system sends them.
#include <windows.h>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/main_dlg.h"
#include "tests/app/win/test_stack.h"

namespace nerova::app::testing {

inline constexpr wchar_t kSettingsCaption[] = L"Nerova Wireless Receiver Setting V1.1";
// Generous: Wine on a busy CI machine is slow.
inline constexpr DWORD kTimeoutMs = 30000;

struct IconCall {
  DWORD message;
  NOTIFYICONDATAW data;
};

// The host with its Shell_NotifyIconW calls recorded (and still made).
class RecordingHost : public MainDlg {
 public:
  using MainDlg::MainDlg;
  std::vector<IconCall> IconCalls() const;

 protected:
  BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW& data) override;

 private:
  mutable std::mutex m_mutex;
  std::vector<IconCall> m_calls;
};

class HostRunner {
 public:
  // Starts the host and waits until its settings window shows.
  HostRunner();
  // Ends the host if it still runs (tray Exit) and joins its thread.
  ~HostRunner();
  HostRunner(const HostRunner&) = delete;
  HostRunner& operator=(const HostRunner&) = delete;

  HWND Host() const { return m_host.Handle(); }
  DWORD HostThreadId() const { return m_hostThreadId; }
  RecordingHost& Object() { return m_host; }
  // The one visible settings window, waited for (null if none showed).
  HWND WaitForSettingsWindow(HWND other = nullptr) const;

  // Waits for the host's modal loop to end.
  bool WaitForEnd(DWORD timeoutMs = kTimeoutMs);
  bool Ended() const;
  // After the end: whether every settings thread ended. The runner waits for
  // them once the host is done, as the program does; this waits for that.
  bool ThreadsEnded() const;

  // WM_DEVICECHANGE with a header of `deviceType`, sent and answered.
  LRESULT SendDeviceChange(WPARAM event, DWORD deviceType) const;
  void PostTrayCallback(UINT mouseMessage) const;
  void PostExit() const;

 private:
  RecordingHost m_host{TestStack()};
  HANDLE m_ended = nullptr;
  HANDLE m_threadsDone = nullptr;
  DWORD m_hostThreadId = 0;
  bool m_threadsEnded = false;
  std::thread m_thread;
};

// Visible top-level settings windows of this process.
std::vector<HWND> VisibleSettingsWindows();
// Threads of this process (Toolhelp).
int ProcessThreadCount();
// The thread that owns `window`.
DWORD WindowThread(HWND window);

}  // namespace nerova::app::testing
