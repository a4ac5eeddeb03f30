#pragma once
// How often the window and the command line ask the receiver: its signal
// strength while it is there, whether it is there while it is not.
namespace nerova::settings {

inline constexpr unsigned kPollPeriodMs = 2000;
// While the receiver restarts after Apply it is only probed every 10 s.
inline constexpr unsigned kRebootPollPeriodMs = 10000;

}  // namespace nerova::settings
