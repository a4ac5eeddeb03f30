// How much processor time the settings window's thread spends while it polls
// the signal strength: 20 RSSI reads against the receiver substitute, each of
// which waits 100 ms in PumpWait between request and answer. Printed as the
// process's CPU time over the wall time, a share of one core. For scale, the
// same reads with a wait that spins on the message queue. Under Wine much of
// the cost of each queue call is the wineserver's, a process of its own, so
// a spinning wait shows less than the whole core it costs in all. The
// argument "pumpwait" or "spin" runs one of the two alone.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "link/receiver_link.h"
#include "link/receiver_settings.h"
#include "link/win/pump_wait.h"
#include "link/win/code_page_codec.h"
#include "sim/sim_stack.h"

namespace {

using nerova::link::MessagePump;

constexpr int kReads = 20;

// Waits by peeking at the queue until the time is up, never sleeping.
class SpinningPump final : public MessagePump {
 public:
  void PumpWait(std::uint32_t milliseconds) override {
    const DWORD start = GetTickCount();
    do {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    } while (GetTickCount() - start < milliseconds);
  }
};

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 1e7;  // 100 ns units
  };
  return seconds(kernel) + seconds(user);
}

double WallSeconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Measure(const char* label, MessagePump& pump) {
  nerova::sim::SimStack stack;
  stack.AddReceiver();
  nerova::link::ReceiverLink link(stack);
  const nerova::link::win::CodePageCodec codec;
  nerova::link::ReceiverSettings settings(link, pump, codec);

  int failed = 0;
  const double cpu0 = ProcessCpuSeconds();
  const double wall0 = WallSeconds();
  for (int i = 0; i < kReads; ++i) {
    const nerova::link::ReceiverTurn turn(settings, nerova::link::TurnWait::Bounded);
    if (settings.ReadRssi(turn) == nerova::link::kRssiFailed) ++failed;
  }
  const double cpu = ProcessCpuSeconds() - cpu0;
  const double wall = WallSeconds() - wall0;
  // The system counts process time in steps of about 10 ms.
  std::printf("%-16s %d RSSI reads (%d failed): wall %.2f s, CPU %.2f s, %.1f%% of one core\n",
              label, kReads, failed, wall, cpu, wall > 0 ? 100.0 * cpu / wall : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  const char* only = argc > 1 ? argv[1] : "";
  if (!*only || std::strcmp(only, "pumpwait") == 0) {
    nerova::link::win::WindowsPump sleeping;
    Measure("PumpWait:", sleeping);
  }
  if (!*only || std::strcmp(only, "spin") == 0) {
    SpinningPump spinning;
    Measure("spinning wait:", spinning);
  }
  std::fflush(stdout);
  return 0;
}
