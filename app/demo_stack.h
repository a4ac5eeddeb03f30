#pragma once
// The demo build's receiver substitute: one receiver in its factory state,
// plugged in from the start, restarting for a few seconds when told to.
#include "sim/sim_stack.h"

namespace nerova::app {

sim::SimStack& DemoStack();
sim::Device DemoReceiver();

}  // namespace nerova::app
