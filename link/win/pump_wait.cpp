#include "link/win/pump_wait.h"

#include <windows.h>

#include <utility>

namespace nerova::link::win {
namespace {

LONGLONG Counter() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Whole milliseconds by the performance counter since `origin`. GetTickCount
// moves in steps of 10 to 16 ms on Windows (and of a few under Wine), so a
// wait measured by it could end that much early, and the receiver is owed
// its full pause between two writes. Counted from the wait's own start, not
// from a millisecond boundary, so that a whole count is a whole time.
TickSource TicksSince(LONGLONG origin) {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER value{};
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
  }();
  return [origin] {
    const LONGLONG elapsed = Counter() - origin;
    return static_cast<std::uint32_t>(elapsed / frequency * 1000 + elapsed % frequency * 1000 / frequency);
  };
}

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

void PumpWait(std::uint32_t milliseconds) { PumpWait(milliseconds, TicksSince(Counter())); }

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

WindowsPump::WindowsPump() = default;

WindowsPump::WindowsPump(TickSource ticks) : m_ticks(std::move(ticks)) {}

void WindowsPump::PumpWait(std::uint32_t milliseconds) {
  if (!m_ticks) {
    win::PumpWait(milliseconds);
    return;
  }
  win::PumpWait(milliseconds, m_ticks);
}

}  // namespace nerova::link::win
