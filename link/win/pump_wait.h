#pragma once
// The wait between receiver requests on the settings window's thread. It
// keeps dispatching the thread's messages (posted, sent, timers, input) so
// the window stays responsive, and sleeps in between instead of spinning.
#include <cstdint>
#include <functional>

#include "link/message_pump.h"

namespace nerova::link::win {

// A millisecond counter that wraps at 2^32, like GetTickCount.
using TickSource = std::function<std::uint32_t()>;

// Returns after at least `milliseconds` by the performance counter, counted
// in wrapping 32-bit milliseconds (unsigned arithmetic, so the wrap is
// harmless). Every queued message is
// removed with PeekMessageW and passed through TranslateMessage and
// DispatchMessageW, with no dialog pre-translation. A wait of 0 drains the
// queue once. WM_QUIT ends the wait at once and is posted again, so that the
// message loops around the caller end too.
void PumpWait(std::uint32_t milliseconds);
void PumpWait(std::uint32_t milliseconds, const TickSource& ticks);

class WindowsPump final : public MessagePump {
 public:
  // By the performance counter, as PumpWait(milliseconds).
  WindowsPump();
  explicit WindowsPump(TickSource ticks);

  void PumpWait(std::uint32_t milliseconds) override;

 private:
  TickSource m_ticks;
};

}  // namespace nerova::link::win
