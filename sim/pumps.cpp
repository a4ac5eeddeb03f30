#include "sim/pumps.h"

#include <chrono>
#include <thread>
#include <utility>

namespace nerova::sim {

void FakePump::PumpWait(std::uint32_t milliseconds) {
  m_waits.push_back(milliseconds);
  if (auto handler = std::exchange(m_duringNextWait, nullptr)) handler();
  m_clock.Advance(std::chrono::milliseconds(milliseconds));
}

void SleepingPump::PumpWait(std::uint32_t milliseconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  // sleep_for may wake early on some platforms' timers; sleep again until due.
  for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
    std::this_thread::sleep_for(end - now);
  }
}

}  // namespace nerova::sim
