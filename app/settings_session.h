#pragma once
// What the tray host and one settings thread share. The host may stop the
// thread at any moment and never waits for it; the thread lets go of
// everything by itself. The session outlives both sides' use of it (each
// holds a shared_ptr).
//
// Stopping is cooperative: the flag is set (message boxes and the firmware
// tool launch look at it), the receiver access refuses every further
// exchange, the window is hidden, and WM_QUIT is posted to the thread, which
// ends every modal loop it is in (dialogs, message boxes, PumpWait) one
// after the other. An Apply that is writing when the stop comes completes
// first, its writes and the restart, within kStopGraceMs: only then are the
// exchanges refused and WM_QUIT posted, so that the receiver is never left
// with part of a configuration. Once its writes are out and only the
// restart is left (its success box is open), a stop takes effect at once:
// the box closes and the restart still goes out.
#include <windows.h>

#include <atomic>
#include <mutex>

#include "app/receiver_gate.h"

namespace nerova::ui {
class Dialog;
}

namespace nerova::app {

// How long a stop waits for an Apply in progress.
inline constexpr DWORD kStopGraceMs = 2000;

class SettingsSession {
 public:
  explicit SettingsSession(ReceiverGate& gate = ReceiverGate::Process()) : m_access(gate) {}
  SettingsSession(const SettingsSession&) = delete;
  SettingsSession& operator=(const SettingsSession&) = delete;

  // Settings thread side.
  ReceiverAccess& Access() { return m_access; }
  const std::atomic<bool>& StopFlag() const { return m_stopped; }
  // The settings window object, from before its window exists until its
  // window is gone; Detach before the object is destroyed.
  void Attach(ui::Dialog& dialog);
  void Detach();
  // Posts `message` to the host unless the session has been stopped; a
  // stopped thread tells the host nothing.
  bool PostToHostUnlessStopped(HWND host, UINT message);

  // Host side.
  void SetThreadId(DWORD threadId) { m_threadId.store(threadId); }
  bool Stopped() const { return m_stopped.load(); }
  // True once a settings window object was attached (it may have ended
  // since).
  bool EverAttached() const;
  // Posts WM_CLOSE to the settings window if it exists now. False when it
  // does not exist yet or any more.
  bool PostCloseToWindow();
  // The window while it exists (tests).
  HWND Window() const;
  // Stops the thread as described above. Idempotent; never blocks on the
  // thread.
  void Stop();
  // Called now and then while a stop waits for an Apply: once the grace
  // time is over, the stop takes effect whatever the Apply is doing. True
  // while the stop still waits.
  bool EnforceStopGrace();
  // A stop waits for an Apply to finish.
  bool StopWaitsForApply() const { return m_bGracePending.load(); }
  // Settings thread side: the Apply a stop waited for has ended.
  void StopTookEffect() { PostQuit(); }

 private:
  mutable std::mutex m_mutex;
  ui::Dialog* m_pSettingsDlg = nullptr;  // guarded by m_mutex
  bool m_everAttached = false;           // guarded by m_mutex
  std::atomic<bool> m_stopped{false};
  void PostQuit();

  std::atomic<DWORD> m_threadId{0};
  std::atomic<bool> m_bGracePending{false};
  DWORD m_nStopTick = 0;  // host thread only
  ReceiverAccess m_access;
};

}  // namespace nerova::app
