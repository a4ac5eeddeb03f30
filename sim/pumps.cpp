#include "sim/pumps.h"

#include <chrono>
#include <utility>

namespace nerova::sim {

void FakePump::PumpWait(std::uint32_t milliseconds) {
  m_waits.push_back(milliseconds);
  if (auto handler = std::exchange(m_duringNextWait, nullptr)) handler();
  m_clock.Advance(std::chrono::milliseconds(milliseconds));
}

}  // namespace nerova::sim
