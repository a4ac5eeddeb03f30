#pragma once
// The application object: process-wide start-up (common controls, GDI+),
// the tray host run modally on the main thread for the whole run, and the
// shutdown.
#include <windows.h>

#include "link/capture_stack.h"
#include "link/receiver_lock.h"

namespace nerova::app {

// Set by InitInstance, given back to GdiplusShutdown by ExitInstance.
extern ULONG_PTR g_gdiplusToken;

class COrlenkApp {
 public:
  // The program's settings windows talk to the receiver through `stack`,
  // taking turns with other programs through `locks`; both must outlive the
  // object.
  COrlenkApp(link::CaptureStack& stack, link::ReceiverLocks& locks) : m_stack(stack), m_locks(locks) {}
  COrlenkApp(const COrlenkApp&) = delete;
  COrlenkApp& operator=(const COrlenkApp&) = delete;

  // The whole run: InitInstance, then ExitInstance; the process's exit code.
  int Run();

 private:
  // Start-up, the host's modal run and what follows it. False: the process
  // ends (there is no message loop of the application's own).
  bool InitInstance();
  int ExitInstance();

  // Settings threads that did not end in time after the host (a window that
  // stopped answering): the process ends without the orderly shutdown, which
  // could wait on what such a thread holds.
  bool m_bThreadsLeft = false;
  link::CaptureStack& m_stack;
  link::ReceiverLocks& m_locks;
};

}  // namespace nerova::app
