// Process start: the application object runs the whole program.
#include <windows.h>

#include "app/orlenk_app.h"
#include "link/win/directshow_capture_stack.h"
#include "link/win/named_mutex_locks.h"

namespace {

// The receiver is reached through DirectShow and Kernel Streaming, in turns
// with other programs (nerova-cli) through named mutexes.
nerova::link::win::DirectShowCaptureStack captureStack;
nerova::link::win::NamedMutexLocks receiverLocks;
nerova::app::COrlenkApp theApp(captureStack, receiverLocks);

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return theApp.Run(); }
