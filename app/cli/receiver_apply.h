#pragma once
// One receiver's configuration from the command line: what it holds read,
// what was not asked for filled in from that, every value checked, then
// the writes and the restart with no other program in between, the wait
// for its return and the read-back.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/cli/cli_options.h"
#include "app/cli/receiver_choice.h"
#include "link/message_pump.h"
#include "settings/configuration.h"

namespace nerova::cli {

struct ApplyOutcome {
  int status = 0;
  // The last thing said about the receiver.
  std::wstring message;
  // What went out, once anything did.
  std::optional<settings::Configuration> written;
  // As read before the writes; empty when it could not be read.
  std::wstring firmwareVersion;
};

struct ApplyContext {
  link::MessagePump& pump;
  // Whether to stop waiting; null for never.
  std::function<bool()> interrupted;
  bool wait = true;
  std::uint32_t timeoutSeconds = 90;
  // Progress and errors (standard error), and the lines that tell success
  // (standard output).
  std::function<void(std::wstring_view)> progress;
  std::function<void(std::wstring_view)> success;
};

// `receiver` has answered. The exit status and what was said.
ApplyOutcome ApplyToReceiver(ChosenReceiver& receiver, const WantedValues& wanted, const ApplyContext& context);

}  // namespace nerova::cli
