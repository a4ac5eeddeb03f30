#pragma once
// The wait that keeps a window responsive between receiver requests. On
// Windows it dispatches the calling thread's messages while it waits
// (PumpWait); tests substitute a pump of their own.
#include <cstdint>

namespace nerova::link {

class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // Returns after at least `milliseconds` have passed; a wait of 0 only
  // dispatches what is already queued.
  virtual void PumpWait(std::uint32_t milliseconds) = 0;
};

}  // namespace nerova::link
