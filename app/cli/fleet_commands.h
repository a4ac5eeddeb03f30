#pragma once
// The commands for many receivers: apply --all, which configures every
// receiver attached at the same time, and provision, which configures each
// receiver attached or plugged in until interrupted, one record each.
#include "app/cli/cli_commands.h"
#include "app/cli/json_documents.h"
#include "app/cli/receiver_apply.h"

namespace nerova::cli {

// `wanted` has been checked. The exit status is the worst of the receivers'.
int ApplyToAll(const Options& options, Platform& platform, const WantedValues& wanted);
int Provision(const Options& options, Platform& platform, const WantedValues& wanted);

// The record of one receiver's configuration, timed now.
ReceiverRecord RecordOf(const AttachedReceiver& receiver, const ApplyOutcome& outcome);

}  // namespace nerova::cli
