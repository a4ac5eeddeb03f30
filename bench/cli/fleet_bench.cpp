// apply --all for four receivers against apply --all for one, each run
// against the receiver substitute in real time: the reads, the writes with
// their pauses, the restart and the read-back. The receivers are configured
// at the same time, so four should take little longer than one. Prints the
// median of each and their ratio. The argument sets the rounds (5 unless
// given); the substitute restarts in 2 s, a real receiver in about 6.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli/cli_commands.h"
#include "app/cli/exit_codes.h"
#include "link/sleeping_pump.h"
#include "link/utf8_codec.h"
#include "sim/sim_stack.h"

namespace {

using namespace nerova;

constexpr std::chrono::milliseconds kRestartTime{2000};

class QuietConsole final : public cli::Console {
 public:
  void Out(std::wstring_view) override {}
  void Err(std::wstring_view) override {}
  bool OutputLost() const override { return false; }
};

class SleepingWorker final : public cli::WorkerThread {
 public:
  link::MessagePump& Pump() override { return m_pump; }

 private:
  link::SleepingPump m_pump;
};

// Seconds that apply --all takes with `receivers` attached.
double TimeApplyToAll(int receivers) {
  sim::SimStack stack;
  for (int i = 0; i < receivers; ++i) stack.AddDevice(sim::ReceiverDescription(i)).SetRebootTime(kRestartTime);
  link::SleepingPump pump;
  link::Utf8Codec codec;
  QuietConsole console;
  cli::Platform platform{stack,   pump,    codec,   console, nullptr, nullptr, nullptr, nullptr, link::FreeLocks(),
                         [] { return std::make_unique<SleepingWorker>(); }, nullptr, nullptr};
  const cli::ParsedArguments parsed =
      cli::ParseArguments({L"apply", L"--all", L"--model", L"RC300W", L"--ssid", L"BENCH-" + std::to_wstring(receivers)});
  const auto start = std::chrono::steady_clock::now();
  const int status = cli::RunCommand(*parsed.options, platform);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (status != cli::kExitOk) {
    std::fprintf(stderr, "apply --all with %d receivers ended with %d\n", receivers, status);
    std::exit(1);
  }
  return took.count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::vector<double> one;
  std::vector<double> four;
  // Alternated, so that a slow spell of the machine falls on both.
  for (int round = 0; round < rounds; ++round) {
    one.push_back(TimeApplyToAll(1));
    four.push_back(TimeApplyToAll(4));
  }
  const double oneMedian = Median(one);
  const double fourMedian = Median(four);
  std::printf("apply --all, median of %d: 1 receiver %.2f s, 4 receivers %.2f s, ratio %.2f\n", rounds, oneMedian,
              fourMedian, fourMedian / oneMedian);
  return 0;
}
