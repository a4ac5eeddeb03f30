#pragma once
// The receiver substitute the host tests' settings windows talk to.
#include "sim/sim_stack.h"

namespace nerova::app::testing {

sim::SimStack& TestStack();

}  // namespace nerova::app::testing
