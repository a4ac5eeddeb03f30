// Process start: the application object runs the whole program.
#include <windows.h>

#include "app/orlenk_app.h"

namespace {

nerova::app::COrlenkApp theApp;

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return theApp.Run(); }
