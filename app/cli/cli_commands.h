#pragma once
// nerova-cli's commands over the receiver link, the settings protocol and
// the settings rules the window uses. The platform's entry point supplies
// the capture stack, the wait, the code page and the console; everything
// else is the same on Windows and Linux.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/console.h"
#include "link/capture_stack.h"
#include "link/message_pump.h"
#include "link/receiver_lock.h"
#include "link/text_codec.h"

namespace nerova::cli {

// Why a receiver could not be used, where the platform can tell more than a
// result code.
struct ReceiverProblem {
  enum class Kind {
    None,
    NotAccessible,  // the user may not open it
    ControlSize,    // its settings control is not the size of a command block
  };
  Kind kind = Kind::None;
  std::wstring message;
};

// What a thread of its own needs to talk to a receiver (on Windows, COM for
// that thread) and the wait it pumps.
class WorkerThread {
 public:
  virtual ~WorkerThread() = default;
  virtual link::MessagePump& Pump() = 0;
};

struct Platform {
  link::CaptureStack& stack;
  link::MessagePump& pump;
  const link::TextCodec& codec;
  Console& console;
  // True once the user asked the program to stop (Ctrl+C).
  std::function<bool()> interrupted;
  // The latest problem with a receiver since the last call, forgotten by
  // this call. Null where the platform tells none.
  std::function<ReceiverProblem()> takeReceiverProblem;
  // The names and USB identities of the video functions plugged in that no
  // video driver serves, so that no receiver can be found among them. Null where
  // the platform cannot tell.
  std::function<std::vector<link::VideoInputName>()> unservedVideoFunctions;
  // The firmware update of a package, where the platform has one: the exit
  // status. Null elsewhere.
  std::function<int(const std::wstring& package)> updateFirmware;
  // What keeps this program's exchanges with a receiver apart from other
  // programs' (the settings window, another nerova-cli).
  link::ReceiverLocks& locks = link::FreeLocks();
  // Entered by each thread that configures a receiver of several at once.
  // Null where the platform's pump serves every thread.
  std::function<std::unique_ptr<WorkerThread>()> enterWorkerThread;
  // Standard input up to its end, or up to `limit` bytes and one more;
  // none when it cannot be read.
  std::function<std::optional<std::string>(std::size_t limit)> readStandardInput;
  // One line typed on the terminal (standard input) without its line end;
  // none at its end.
  std::function<std::optional<std::wstring>()> readLine;
};

// Runs the command and returns the exit status (exit_codes.h).
int RunCommand(const Options& options, Platform& platform);

}  // namespace nerova::cli
