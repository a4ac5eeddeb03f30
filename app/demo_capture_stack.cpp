// The demo program talks to the receiver substitute.
#include "app/demo_stack.h"
#include "settings/win/application_capture_stack.h"

namespace nerova::app {
namespace {

struct Demo {
  Demo() : receiver(stack.AddReceiver()) {
    // The demo may run for hours; the log is for tests.
    stack.SetTransferLogLimit(256);
  }
  sim::SimStack stack;
  sim::Device receiver;
};

Demo& TheDemo() {
  static Demo demo;
  return demo;
}

}  // namespace

sim::SimStack& DemoStack() { return TheDemo().stack; }
sim::Device DemoReceiver() { return TheDemo().receiver; }

}  // namespace nerova::app

namespace nerova::settings::win {

link::CaptureStack& ApplicationCaptureStack() { return app::DemoStack(); }

}  // namespace nerova::settings::win
