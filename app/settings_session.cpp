#include "app/settings_session.h"

#include "ui/dialog.h"

namespace nerova::app {

void SettingsSession::Attach(ui::Dialog& dialog) {
  std::lock_guard lock(m_mutex);
  m_pSettingsDlg = &dialog;
  m_everAttached = true;
}

void SettingsSession::Detach() {
  std::lock_guard lock(m_mutex);
  m_pSettingsDlg = nullptr;
}

bool SettingsSession::PostToHostUnlessStopped(HWND host, UINT message) {
  // Under the lock that Stop takes: once Stop has returned, nothing more
  // reaches the host.
  std::lock_guard lock(m_mutex);
  if (m_stopped.load()) return false;
  return PostMessageW(host, message, 0, 0) != FALSE;
}

bool SettingsSession::EverAttached() const {
  std::lock_guard lock(m_mutex);
  return m_everAttached;
}

bool SettingsSession::PostCloseToWindow() {
  // The lock keeps the object alive while its handle is read; a window that
  // is being destroyed right now has its handle cleared at WM_NCDESTROY, and
  // a message posted to a destroyed window is simply dropped.
  std::lock_guard lock(m_mutex);
  if (!m_pSettingsDlg) return false;
  HWND window = m_pSettingsDlg->Handle();
  return window && PostMessageW(window, WM_CLOSE, 0, 0) != FALSE;
}

HWND SettingsSession::Window() const {
  std::lock_guard lock(m_mutex);
  return m_pSettingsDlg ? m_pSettingsDlg->Handle() : nullptr;
}

void SettingsSession::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stopped.store(true);
    // Asynchronous: a window whose thread is busy hides as soon as it looks
    // at its queue again; the host does not wait for that.
    if (m_pSettingsDlg) {
      if (HWND window = m_pSettingsDlg->Handle()) ShowWindowAsync(window, SW_HIDE);
    }
  }
  if (m_access.Stop()) {
    PostQuit();
    return;
  }
  // An Apply is writing: it ends the thread itself when it is done
  // (StopTookEffect), or EnforceStopGrace does after kStopGraceMs.
  m_nStopTick = GetTickCount();
  m_bGracePending.store(true);
}

bool SettingsSession::EnforceStopGrace() {
  if (!m_bGracePending.load() || m_access.Stopped()) {
    m_bGracePending.store(false);
    return false;
  }
  if (GetTickCount() - m_nStopTick < kStopGraceMs) return true;
  m_access.ForceStop();
  PostQuit();
  m_bGracePending.store(false);
  return false;
}

void SettingsSession::PostQuit() {
  // The thread makes its queue before it first looks at the flag, so either
  // this reaches it or it sees the flag and ends before showing anything.
  if (const DWORD threadId = m_threadId.load()) PostThreadMessageW(threadId, WM_QUIT, 0, 0);
}

}  // namespace nerova::app
