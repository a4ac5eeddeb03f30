#pragma once
// The signals that steer the gadget: SIGUSR1 takes the receiver off the bus,
// SIGUSR2 puts it back, SIGTERM and SIGINT end the program. They are held
// back except while the gadget waits, so that nothing cuts an answer short.
//
// raw-gadget's event wait cannot be polled beside a signalfd; a signal ends
// it instead. One that arrives just before the wait begins would be missed,
// so SIGUSR1, SIGTERM and SIGINT also put /dev/null in place of the
// raw-gadget file being waited on: the receiver leaves the bus at once, and
// a wait that had not begun yet fails at once.
#include <chrono>
#include <functional>
#include <optional>

namespace nerova::sim::gadget {

enum BusSignal : unsigned {
  kUnplug = 1u << 0,  // SIGUSR1
  kPlug = 1u << 1,    // SIGUSR2
  kStop = 1u << 2,    // SIGTERM, SIGINT
};

class BusSignals {
 public:
  // Holds the signals back from here on. One per program.
  BusSignals();
  BusSignals(const BusSignals&) = delete;
  BusSignals& operator=(const BusSignals&) = delete;

  // Runs `wait`, which waits on the raw-gadget file `fd` and returns 0 or an
  // errno, with the signals let in; EINTR when a signal ended it.
  int LetIn(int fd, const std::function<int()>& wait);
  // The signals that arrived since the last Take(), without taking them.
  unsigned Arrived() const;
  unsigned Take();
  // Off the bus: waits for a signal, no longer than `timeout` when one is
  // given, and takes what arrived.
  unsigned WaitOffBus(std::optional<std::chrono::milliseconds> timeout);
};

}  // namespace nerova::sim::gadget
