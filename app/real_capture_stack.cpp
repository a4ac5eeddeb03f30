// The real program talks to the receiver through DirectShow and Kernel Streaming.
#include "link/win/directshow_capture_stack.h"
#include "settings/win/application_capture_stack.h"

namespace nerova::settings::win {

link::CaptureStack& ApplicationCaptureStack() {
  static link::win::DirectShowCaptureStack stack;
  return stack;
}

}  // namespace nerova::settings::win
