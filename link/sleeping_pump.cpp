#include "link/sleeping_pump.h"

#include <chrono>
#include <thread>

namespace nerova::link {

void SleepingPump::PumpWait(std::uint32_t milliseconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  // sleep_for may wake early on some platforms' timers; sleep again until due.
  for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
    std::this_thread::sleep_for(end - now);
  }
}

}  // namespace nerova::link
