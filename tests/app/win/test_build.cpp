// What the host tests hand the host: a receiver substitute of their own.
#include "tests/app/win/test_stack.h"

namespace nerova::app::testing {

sim::SimStack& TestStack() {
  static sim::SimStack stack;
  static const bool ready = [] {
    stack.AddReceiver();
    stack.SetTransferLogLimit(4096);
    return true;
  }();
  (void)ready;
  return stack;
}

}  // namespace nerova::app::testing
