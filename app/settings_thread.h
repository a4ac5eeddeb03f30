#pragma once
// The settings thread: it runs one settings window modally, over the
// program's capture stack as its session lets it reach the receiver, and
// tells the host when the window has closed by itself.
#include <windows.h>

#include <memory>

#include "app/settings_session.h"
#include "link/capture_stack.h"
#include "link/receiver_lock.h"
#include "ui/handles.h"

namespace nerova::app {

// The exit code of a settings thread that was stopped.
inline constexpr DWORD kStoppedThreadExitCode = static_cast<DWORD>(-1);

struct SettingsThread {
  ui::KernelHandle handle;
  std::shared_ptr<SettingsSession> session;
};

// Starts a settings thread that reports to `host` and talks to the receiver
// through `stack`, taking turns with other programs through `locks`; both
// must outlive it. The handle is empty when the thread could not be created.
SettingsThread StartSettingsThread(HWND host, link::CaptureStack& stack, link::ReceiverLocks& locks);

}  // namespace nerova::app
