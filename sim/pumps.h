#pragma once
// A wait for tests: it moves a manual clock instead of waiting.
#include <cstdint>
#include <functional>
#include <vector>

#include "link/message_pump.h"
#include "sim/clock.h"

namespace nerova::sim {

// Moves a manual clock forward by each wait instead of waiting. What a test
// hands to DuringNextWait runs inside the next wait, before the clock moves,
// the way a window message dispatched by the real wait would.
class FakePump final : public link::MessagePump {
 public:
  explicit FakePump(ManualClock& clock) : m_clock(clock) {}
  void PumpWait(std::uint32_t milliseconds) override;

  void DuringNextWait(std::function<void()> handler) { m_duringNextWait = std::move(handler); }
  // Every wait asked for, in order.
  const std::vector<std::uint32_t>& Waits() const { return m_waits; }

 private:
  ManualClock& m_clock;
  std::function<void()> m_duringNextWait;
  std::vector<std::uint32_t> m_waits;
};

}  // namespace nerova::sim
