#include "app/cli/uninterruptible.h"

#include <atomic>
#include <thread>

namespace nerova::cli {
namespace {

// A count, so that spans may nest. Polled rather than waited on: a console
// handler may still be waiting while the process ends, when a mutex or a
// condition variable it waited on would already be destroyed.
std::atomic<int> g_goingOut{0};
constexpr std::chrono::milliseconds kPollPeriod{10};

}  // namespace

ConfigurationGoingOut::ConfigurationGoingOut() { ++g_goingOut; }

ConfigurationGoingOut::~ConfigurationGoingOut() { --g_goingOut; }

void WaitUntilNoConfigurationGoingOut(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (g_goingOut.load() > 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(kPollPeriod);
}

}  // namespace nerova::cli
