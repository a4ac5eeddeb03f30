#pragma once
// How often the window and the command line ask the receiver: its signal
// strength while it is there, whether it is there while it is not.
namespace nerova::settings {

inline constexpr unsigned kPollPeriodMs = 2000;
// While the receiver restarts after Apply it is only probed every 10 s.
inline constexpr unsigned kRebootPollPeriodMs = 10000;
// How long a program waits for the receiver while another one has it. The
// longest hold is the command line's apply: the load it starts from (eight
// reads of about 110 ms), five writes 150 ms apart and the restart command,
// about 2 s, more under a slow system; the wait gives it a few seconds more.
// The settings window's signal poll does not wait at all.
inline constexpr unsigned kReceiverTurnWaitMs = 6000;

}  // namespace nerova::settings
