// The demo program talks to the receiver substitute: one receiver in its
// factory state, plugged in from the start, restarting for a few seconds
// when told to.
#include "settings/win/application_capture_stack.h"
#include "sim/sim_stack.h"

namespace nerova::settings::win {
namespace {

sim::SimStack& DemoStack() {
  static sim::SimStack stack;
  static const bool ready = [] {
    stack.AddReceiver();
    // The demo may run for hours; the log is for tests.
    stack.SetTransferLogLimit(256);
    return true;
  }();
  (void)ready;
  return stack;
}

}  // namespace

link::CaptureStack& ApplicationCaptureStack() { return DemoStack(); }

}  // namespace nerova::settings::win
