#pragma once
// The capture stack the program talks to the receiver through. Each
// executable links exactly one definition: the real program DirectShow, the
// demo program the receiver substitute.
#include "link/capture_stack.h"

namespace nerova::settings::win {

link::CaptureStack& ApplicationCaptureStack();

}  // namespace nerova::settings::win
