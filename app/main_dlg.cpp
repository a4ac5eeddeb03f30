#include "app/main_dlg.h"

#include <cwchar>
#include <iterator>
#include <string>
#include <utility>

#include "app/app_messages.h"
#include "app/video_camera_class.h"
#include "resources/resource_ids.h"
#include "settings/reboot_flag.h"

namespace nerova::app {

bool g_bSettingsClosed = false;
bool g_bHideOnFirstErase = true;
NOTIFYICONDATAW g_trayIcon{};
DEV_BROADCAST_DEVICEINTERFACE_W g_deviceFilter{};

namespace {

// Device types whose removal replaces the settings window: a device
// interface of the filter's class, and port devices, which every top-level
// window hears of.
bool QualifiesForRestart(DWORD deviceType) {
  return deviceType == DBT_DEVTYP_DEVICEINTERFACE || deviceType == DBT_DEVTYP_PORT;
}

class PopupMenu {
 public:
  PopupMenu() : m_menu(CreatePopupMenu()) {}
  ~PopupMenu() {
    if (m_menu) DestroyMenu(m_menu);
  }
  PopupMenu(const PopupMenu&) = delete;
  PopupMenu& operator=(const PopupMenu&) = delete;

  HMENU Get() const { return m_menu; }

 private:
  HMENU m_menu;
};

}  // namespace

MainDlg::MainDlg(link::CaptureStack& stack, link::ReceiverLocks& locks)
    : ui::Dialog(IDD_HOST), m_stack(stack), m_locks(locks) {}

MainDlg::~MainDlg() = default;

bool MainDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  StartSettingsThread();

  g_deviceFilter = DEV_BROADCAST_DEVICEINTERFACE_W{};
  g_deviceFilter.dbcc_size = sizeof(DEV_BROADCAST_DEVICEINTERFACE_W);
  g_deviceFilter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  g_deviceFilter.dbcc_reserved = 0;
  g_deviceFilter.dbcc_classguid = kVideoCameraCategory;
  m_hDeviceNotify = RegisterDeviceNotificationW(Handle(), &g_deviceFilter, DEVICE_NOTIFY_WINDOW_HANDLE);

  // Explorer broadcasts this when it (re)starts; its notification area is
  // empty then. Known before the icon is added: a restart may come while
  // the add itself waits for the shell.
  m_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  FillTrayIcon();
  NotifyIcon(NIM_ADD, g_trayIcon);
  return true;
}

void MainDlg::FillTrayIcon() {
  g_trayIcon = NOTIFYICONDATAW{};
  g_trayIcon.cbSize = sizeof(NOTIFYICONDATAW);
  g_trayIcon.hWnd = Handle();
  g_trayIcon.uID = IDI_APP;
  g_trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  g_trayIcon.uCallbackMessage = WM_TRAYICON;
  g_trayIcon.hIcon = LoadIconW(ui::ResourceModule(), MAKEINTRESOURCEW(IDI_APP));
  const std::wstring tip = std::wstring(kTrayTipName) + kTrayTipVersion;
  wcsncpy(g_trayIcon.szTip, tip.c_str(), std::size(g_trayIcon.szTip) - 1);
}

BOOL MainDlg::NotifyIcon(DWORD message, NOTIFYICONDATAW& data) { return Shell_NotifyIconW(message, &data); }

void MainDlg::OnCommand(int id, int code, HWND control) {
  if (id == ID_TRAY_EXIT) {
    OnTrayExit();
    return;
  }
  ui::Dialog::OnCommand(id, code, control);
}

bool MainDlg::OnTimer(UINT_PTR timerId) {
  if (timerId == kStopGraceTimerId) {
    bool waiting = false;
    for (const SettingsThread& thread : m_stopped) waiting = thread.session->EnforceStopGrace() || waiting;
    if (!waiting) KillTimer(Handle(), kStopGraceTimerId);
    return true;
  }
  if (timerId != kExitTimerId) return false;
  KillTimer(Handle(), kExitTimerId);
  if (g_bSettingsClosed) return true;  // closed in time; the host is ending
  StopSettingsThread();
  EndModal(0);
  return true;
}

std::optional<LRESULT> MainDlg::OnEraseBackground(HDC) {
  if (!g_bHideOnFirstErase) return std::nullopt;
  g_bHideOnFirstErase = false;
  ShowWindow(Handle(), SW_HIDE);
  return TRUE;
}

std::optional<LRESULT> MainDlg::OnDeviceChange(WPARAM event, LPARAM data) {
  if (event == DBT_DEVICEARRIVAL) return TRUE;
  if (event != DBT_DEVICEREMOVECOMPLETE) return FALSE;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  if (!header || !QualifiesForRestart(header->dbch_devicetype)) return TRUE;
  // The receiver restarting after Apply: its window waits for it to return.
  if (g_bRebootExpected.exchange(false)) return TRUE;
  RestartSettingsThread();
  return TRUE;
}

std::optional<LRESULT> MainDlg::OnPrivateMessage(UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_SETTINGS_CLOSED) {
    OnSettingsClosed();
    return 0;
  }
  if (message == WM_TRAYICON) {
    OnTrayIcon(lParam);
    return 0;
  }
  if (m_taskbarCreated != 0 && message == m_taskbarCreated) {
    NotifyIcon(NIM_ADD, g_trayIcon);
    return 0;
  }
  return std::nullopt;
}

void MainDlg::OnSettingsClosed() {
  g_bSettingsClosed = true;
  EndModal(0);
}

void MainDlg::OnTrayIcon(LPARAM mouseMessage) {
  // No version is set on the icon, so lParam is the plain mouse message.
  if (static_cast<UINT>(mouseMessage) == WM_RBUTTONUP) ShowTrayMenu();
}

void MainDlg::ShowTrayMenu() {
  POINT cursor{};
  GetCursorPos(&cursor);
  PopupMenu menu;
  if (!menu.Get()) return;
  AppendMenuW(menu.Get(), MF_STRING, ID_TRAY_EXIT, kTrayExitText);
  // Without the foreground the menu would not close on a click elsewhere;
  // the posted WM_NULL lets it open again the next time.
  SetForegroundWindow(Handle());
  TrackPopupMenu(menu.Get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, Handle(), nullptr);
  PostMessageW(Handle(), WM_NULL, 0, 0);
}

void MainDlg::OnTrayExit() {
  if (!m_session || !m_session->EverAttached()) {
    EndModal(0);
    return;
  }
  g_bSettingsClosed = false;
  m_session->PostCloseToWindow();
  SetTimer(Handle(), kExitTimerId, kExitTimerPeriodMs, nullptr);
}

void MainDlg::StartSettingsThread() {
  SettingsThread thread = app::StartSettingsThread(Handle(), m_stack, m_locks);
  m_hSettingsThread = std::move(thread.handle);
  m_session = m_hSettingsThread ? std::move(thread.session) : nullptr;
}

void MainDlg::StopSettingsThread() {
  if (m_session) {
    m_session->Stop();
    if (m_session->StopWaitsForApply()) SetTimer(Handle(), kStopGraceTimerId, kStopGraceTimerPeriodMs, nullptr);
  }
  if (m_hSettingsThread) m_stopped.push_back(SettingsThread{std::move(m_hSettingsThread), std::move(m_session)});
  m_session = nullptr;
  ReapStoppedThreads();
}

void MainDlg::RestartSettingsThread() {
  StopSettingsThread();
  // The host handles no messages meanwhile; the old window is gone by now
  // unless its thread is busy, and the new one does not talk to the
  // receiver before the old one has let go of it.
  Sleep(kRestartDelayMs);
  g_bSettingsClosed = false;
  StartSettingsThread();
}

void MainDlg::ReapStoppedThreads() {
  std::erase_if(m_stopped, [](const SettingsThread& thread) {
    return WaitForSingleObject(thread.handle.Get(), 0) == WAIT_OBJECT_0;
  });
}

void MainDlg::OnDestroy() {
  KillTimer(Handle(), kExitTimerId);
  KillTimer(Handle(), kStopGraceTimerId);
  NotifyIcon(NIM_DELETE, g_trayIcon);
  if (m_hDeviceNotify) UnregisterDeviceNotification(std::exchange(m_hDeviceNotify, nullptr));
  // A settings thread still running now (an Exit before its window existed)
  // ends with the host.
  if (m_session && !g_bSettingsClosed) StopSettingsThread();
}

bool MainDlg::WaitForSettingsThreads(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  auto waitOne = [&](HANDLE thread) {
    const DWORD elapsed = GetTickCount() - start;
    const DWORD left = elapsed < timeoutMs ? timeoutMs - elapsed : 0;
    return WaitForSingleObject(thread, left) == WAIT_OBJECT_0;
  };
  bool allEnded = true;
  if (m_hSettingsThread) {
    if (waitOne(m_hSettingsThread.Get())) {
      m_hSettingsThread.Reset();
    } else {
      allEnded = false;
    }
  }
  for (const SettingsThread& thread : m_stopped) {
    if (!waitOne(thread.handle.Get())) allEnded = false;
  }
  ReapStoppedThreads();
  return allEnded;
}

}  // namespace nerova::app
