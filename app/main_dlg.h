#pragma once
// The tray host: a dialog of the main thread on template 131 that hides
// itself the first time it is drawn and is never seen again. It owns the
// tray icon and the device notices, and starts, replaces and stops the
// settings thread. Closing the settings window ends the program; so does the
// tray menu's one item, "Exit(&E)".
#include <windows.h>
#include <dbt.h>
#include <shellapi.h>

#include <memory>
#include <optional>
#include <vector>

#include "app/settings_thread.h"
#include "ui/dialog.h"

#include "nerova_version.h"

namespace nerova::app {

// Main thread only.
extern bool g_bSettingsClosed;    // the settings window closed by itself; the host is ending
extern bool g_bHideOnFirstErase;  // the host has not hidden itself yet
extern NOTIFYICONDATAW g_trayIcon;
extern DEV_BROADCAST_DEVICEINTERFACE_W g_deviceFilter;

// The tip of the tray icon.
inline constexpr wchar_t kTrayTipName[] = L"Nerova Wireless Receiver Setting ";
inline constexpr wchar_t kTrayTipVersion[] = NEROVA_VERSION_CAPTION;
inline constexpr wchar_t kTrayExitText[] = L"Exit(&E)";

class MainDlg : public ui::Dialog {
 public:
  // Its settings windows talk to the receiver through `stack`, which must
  // outlive the host and its settings threads, as must `locks`.
  explicit MainDlg(link::CaptureStack& stack, link::ReceiverLocks& locks = link::FreeLocks());
  ~MainDlg() override;

  // After RunModal: waits up to `timeoutMs` for every settings thread this
  // host started (the stopped ones included) to end, and closes their
  // handles. True when none is left running.
  bool WaitForSettingsThreads(DWORD timeoutMs);
  // The running settings thread's session, or null (tests).
  std::shared_ptr<SettingsSession> Session() const { return m_session; }

 protected:
  bool OnInitDialog() override;
  void OnCommand(int id, int code, HWND control) override;
  // A WM_CLOSE to the hidden host (an "End task", say) is the tray's Exit.
  void OnOk() override { OnTrayExit(); }
  void OnCancel() override { OnTrayExit(); }
  bool OnTimer(UINT_PTR timerId) override;
  std::optional<LRESULT> OnEraseBackground(HDC dc) override;
  std::optional<LRESULT> OnDeviceChange(WPARAM event, LPARAM data) override;
  std::optional<LRESULT> OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;

  // Shell_NotifyIconW; tests watch the calls.
  virtual BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW& data);

 private:
  void OnSettingsClosed();
  void OnTrayIcon(LPARAM mouseMessage);
  void OnTrayExit();
  void ShowTrayMenu();
  void StartSettingsThread();
  // Stops the running settings thread, if any, without waiting for it.
  void StopSettingsThread();
  void RestartSettingsThread();
  // Closes the handles of stopped threads that have ended.
  void ReapStoppedThreads();
  void FillTrayIcon();

  link::CaptureStack& m_stack;
  link::ReceiverLocks& m_locks;
  ui::KernelHandle m_hSettingsThread;
  std::shared_ptr<SettingsSession> m_session;
  // Stopped threads that may still be unwinding.
  std::vector<SettingsThread> m_stopped;
  HDEVNOTIFY m_hDeviceNotify = nullptr;
  UINT m_taskbarCreated = 0;
};

}  // namespace nerova::app
