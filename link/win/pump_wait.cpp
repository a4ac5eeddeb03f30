#include "link/win/pump_wait.h"

#include <windows.h>

#include <utility>

namespace nerova::link::win {
namespace {

std::uint32_t SystemTicks() { return GetTickCount(); }

// Dispatches everything queued. False when WM_QUIT came up: it has been
// posted again and the wait must end.
bool DrainQueue() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

}  // namespace

void PumpWait(std::uint32_t milliseconds) { PumpWait(milliseconds, SystemTicks); }

void PumpWait(std::uint32_t milliseconds, const TickSource& ticks) {
  const std::uint32_t start = ticks();
  for (;;) {
    if (!DrainQueue()) return;
    const std::uint32_t elapsed = ticks() - start;
    if (elapsed >= milliseconds) return;
    // Sleeps until the time is up or anything arrives for this thread, also
    // input that an earlier peek has already seen.
    MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds - elapsed, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

WindowsPump::WindowsPump() : m_ticks(SystemTicks) {}

WindowsPump::WindowsPump(TickSource ticks) : m_ticks(std::move(ticks)) {}

void WindowsPump::PumpWait(std::uint32_t milliseconds) {
  win::PumpWait(milliseconds, m_ticks);
}

}  // namespace nerova::link::win
