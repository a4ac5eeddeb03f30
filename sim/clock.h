#pragma once
// Time as the receiver substitute sees it: the steady clock in a running
// substitute, a clock that only moves when told to in tests.
#include <atomic>
#include <chrono>

namespace nerova::sim {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::milliseconds Now() const = 0;
};

class SteadyClock final : public Clock {
 public:
  std::chrono::milliseconds Now() const override;
};

// Starts at 0 and moves only through Advance; safe to read from any thread.
class ManualClock final : public Clock {
 public:
  std::chrono::milliseconds Now() const override {
    return std::chrono::milliseconds(m_nowMs.load());
  }
  void Advance(std::chrono::milliseconds by) { m_nowMs += by.count(); }

 private:
  std::atomic<long long> m_nowMs{0};
};

}  // namespace nerova::sim
