#include "app/settings_thread.h"

#include <utility>

#include "app/app_messages.h"
#include "link/win/pump_wait.h"
#include "settings/win/orlenk_dlg.h"
#include "ui/escaped_exception.h"
#include "ui/thread_stop.h"

namespace nerova::app {
namespace {

// What the new thread is given; it owns and deletes it.
struct ThreadStart {
  HWND host;
  std::shared_ptr<SettingsSession> session;
  link::CaptureStack& stack;
  link::ReceiverLocks& locks;
};

// The window object is published to the host for exactly its life.
class Attachment {
 public:
  Attachment(SettingsSession& session, ui::Dialog& dialog) : m_session(session) { session.Attach(dialog); }
  ~Attachment() { m_session.Detach(); }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

 private:
  SettingsSession& m_session;
};

DWORD RunSettingsWindow(HWND host, SettingsSession& session, link::CaptureStack& stack,
                        link::ReceiverLocks& locks) {
  // The thread's message queue exists before the stop flag is first read,
  // so a stop either finds the queue for its WM_QUIT or is seen here.
  MSG peek;
  PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE);
  if (session.Stopped()) return kStoppedThreadExitCode;

  ui::ThreadStopBinding binding(session.StopFlag());
  // A wait for the receiver, while the window before this one still has it,
  // keeps this window alive.
  session.Access().SetWhileWaiting(
      [pump = std::make_shared<link::win::WindowsPump>()] { pump->PumpWait(0); });
  INT_PTR result = -1;
  {
    session.Access().SetStopTookEffect([&session] { session.StopTookEffect(); });
    settings::win::COrlenkDlg dialog(stack, session.Access(), locks);
    {
      Attachment attachment(session, dialog);
      result = dialog.RunModal();
    }
    session.PostToHostUnlessStopped(host, WM_SETTINGS_CLOSED);
  }
  return session.Stopped() ? kStoppedThreadExitCode : static_cast<DWORD>(result);
}

DWORD WINAPI SettingsThreadProc(LPVOID parameter) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  DWORD exitCode = kStoppedThreadExitCode;
  try {
    exitCode = RunSettingsWindow(start->host, *start->session, start->stack, start->locks);
  } catch (...) {
    ui::ReportEscapedException("the settings thread");
  }
  // Done with the receiver: the next settings thread may have it.
  start->session->Access().Withdraw();
  return exitCode;
}

}  // namespace

SettingsThread StartSettingsThread(HWND host, link::CaptureStack& stack, link::ReceiverLocks& locks) {
  SettingsThread thread;
  thread.session = std::make_shared<SettingsSession>();
  auto start = std::make_unique<ThreadStart>(ThreadStart{host, thread.session, stack, locks});
  DWORD threadId = 0;
  thread.handle = ui::KernelHandle(CreateThread(nullptr, 0, &SettingsThreadProc, start.get(), 0, &threadId));
  if (!thread.handle) return thread;
  start.release();  // the thread owns it now
  thread.session->SetThreadId(threadId);
  return thread;
}

}  // namespace nerova::app
