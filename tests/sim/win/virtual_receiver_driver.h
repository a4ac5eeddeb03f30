#pragma once
// Drives the virtual receiver from a test as a tester drives it: through
// its controller, virtual-receiver.exe (NEROVA_RECEIVER_CONTROLLER, compiled
// in by the test), reading what `show` and `log` print. Each receiver is
// named as VirtualReceiver; the first where none is.
#include <string>
#include <vector>

#include "sim/virtual/receiver_record.h"
#include "sim/virtual/shared_receiver.h"

namespace nerova::sim::virtual_receiver::testing {

// Runs the controller with `arguments`; its exit status, or -1 when it did
// not run or end.
int RunController(const std::wstring& arguments);
// ... about `receiver` (`--receiver N` before `arguments`).
int RunController(const VirtualReceiver& receiver, const std::wstring& arguments);
// Runs a program that talks to the receiver; its exit status (-1 when it did
// not run or end) and in `output` what it printed on both its streams.
int RunProgram(const std::wstring& commandLine, std::string& output);
// What `show` prints: the settings, and whether the receiver is there
// (plugged in and not restarting).
struct ShownReceiver {
  ReceiverValues values;
  bool present = false;
};
ShownReceiver ReceiverState(const VirtualReceiver& receiver = kReceiverDevice);
// The transfers as `log` prints them.
struct LoggedTransfer {
  long long timeMs = 0;  // within the day
  bool set = false;
  std::string bytes;  // the 60 bytes
};
std::vector<LoggedTransfer> ReceiverLog(const VirtualReceiver& receiver = kReceiverDevice);
// The log's text, as `log` prints it and the receiver keeps it, taken apart.
std::vector<LoggedTransfer> ParseReceiverLog(const std::string& text);

}  // namespace nerova::sim::virtual_receiver::testing
