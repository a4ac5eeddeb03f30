#pragma once
// The wait between receiver requests of a program without a message queue
// (the command line on Linux, tests): it sleeps for the time asked for.
#include <cstdint>

#include "link/message_pump.h"

namespace nerova::link {

class SleepingPump final : public MessagePump {
 public:
  // Returns after at least `milliseconds` by the steady clock.
  void PumpWait(std::uint32_t milliseconds) override;
};

}  // namespace nerova::link
