#pragma once
// The capture stack the program talks to the receiver through. Each
// executable links exactly one definition: the program DirectShow, the
// window tests a receiver substitute of their own.
#include "link/capture_stack.h"

namespace nerova::settings::win {

link::CaptureStack& ApplicationCaptureStack();

}  // namespace nerova::settings::win
