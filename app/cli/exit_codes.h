#pragma once
// What nerova-cli's exit status means; the usage text lists the same.
namespace nerova::cli {

inline constexpr int kExitOk = 0;
// The firmware package could not be unpacked or its tool not started, or
// the output could not be written.
inline constexpr int kExitFailed = 1;
// The command line, or a file it names, is not understood.
inline constexpr int kExitUsage = 2;
// No receiver is attached, or it cannot be opened or does not answer, or
// another program kept it past the wait (kReceiverTurnWaitMs).
inline constexpr int kExitNotFound = 3;
// A value was refused before anything was written.
inline constexpr int kExitRefused = 4;
// A write failed, or the receiver does not hold what was written.
inline constexpr int kExitWriteFailed = 5;
// The receiver did not come back after its restart in the time allowed.
inline constexpr int kExitNoReturn = 6;
// Interrupted (Ctrl+C) once the first write was out: the configuration
// and the restart went out whole, but were not read back.
inline constexpr int kExitSentUnconfirmed = 7;
// show: a value could not be read; it is shown as unknown.
inline constexpr int kExitUnread = 8;
// Interrupted (Ctrl+C) before anything was written, as shells count it.
inline constexpr int kExitInterrupted = 130;

}  // namespace nerova::cli
