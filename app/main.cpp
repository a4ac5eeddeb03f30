// Process start: the application object runs the whole program.
#include <windows.h>

#include "app/orlenk_app.h"
#include "link/win/directshow_capture_stack.h"

namespace {

// The receiver is reached through DirectShow and Kernel Streaming.
nerova::link::win::DirectShowCaptureStack captureStack;
nerova::app::COrlenkApp theApp(captureStack);

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return theApp.Run(); }
