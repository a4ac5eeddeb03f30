#pragma once
// nerova-cli's commands over the receiver link, the settings protocol and
// the settings rules the window uses. The platform's entry point supplies
// the capture stack, the wait, the code page and the console; everything
// else is the same on Windows and Linux.
#include <functional>
#include <string>

#include "app/cli/cli_options.h"
#include "app/cli/console.h"
#include "link/capture_stack.h"
#include "link/message_pump.h"
#include "link/text_codec.h"

namespace nerova::cli {

struct Platform {
  link::CaptureStack& stack;
  link::MessagePump& pump;
  const link::TextCodec& codec;
  Console& console;
  // True once the user asked the program to stop (Ctrl+C).
  std::function<bool()> interrupted;
  // Why a receiver could not be opened, when the platform can tell more
  // than a result code (a video node the user may not open); empty otherwise.
  std::function<std::wstring()> accessProblem;
  // The firmware update of a package, where the platform has one: the exit
  // status. Null elsewhere.
  std::function<int(const std::wstring& package)> updateFirmware;
};

// Runs the command and returns the exit status (exit_codes.h).
int RunCommand(const Options& options, Platform& platform);

}  // namespace nerova::cli
