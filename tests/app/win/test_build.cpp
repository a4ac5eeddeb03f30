// What the executable supplies to the host in the tests: a receiver
// substitute of the tests' own.
#include "settings/win/application_capture_stack.h"
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

namespace nerova::settings::win {

link::CaptureStack& ApplicationCaptureStack() { return app::testing::TestStack(); }

}  // namespace nerova::settings::win
