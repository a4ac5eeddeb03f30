#include "sim/gadget/bus_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace nerova::sim::gadget {
namespace {

volatile sig_atomic_t g_arrived = 0;
// The raw-gadget file being waited on, else -1; and /dev/null.
volatile sig_atomic_t g_waitedOn = -1;
int g_null = -1;

unsigned BitOf(int signal) {
  switch (signal) {
    case SIGUSR1: return kUnplug;
    case SIGUSR2: return kPlug;
    case SIGTERM:
    case SIGINT: return kStop;
    default: return 0;
  }
}

// Runs with every handled signal held back, so never nested.
extern "C" void OnSignal(int signal) {
  const int savedErrno = errno;
  const unsigned bit = BitOf(signal);
  g_arrived = static_cast<sig_atomic_t>(static_cast<unsigned>(g_arrived) | bit);
  if ((bit & (kUnplug | kStop)) && g_waitedOn >= 0) ::dup2(g_null, g_waitedOn);
  errno = savedErrno;
}

sigset_t Handled() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) sigaddset(&set, s);
  return set;
}

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "receiver-gadget: %s: %s\n", what, std::generic_category().message(errno).c_str());
  std::exit(1);
}

}  // namespace

BusSignals::BusSignals() {
  g_null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (g_null < 0) Die("cannot open /dev/null");
  const sigset_t handled = Handled();
  if (::sigprocmask(SIG_BLOCK, &handled, nullptr) != 0) Die("sigprocmask");
  // Without SA_RESTART: a signal ends the wait it arrives in.
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_mask = handled;
  for (int s : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) {
    if (::sigaction(s, &action, nullptr) != 0) Die("sigaction");
  }
}

int BusSignals::LetIn(int fd, const std::function<int()>& wait) {
  const sigset_t handled = Handled();
  g_waitedOn = fd;
  ::sigprocmask(SIG_UNBLOCK, &handled, nullptr);
  const int error = wait();
  ::sigprocmask(SIG_BLOCK, &handled, nullptr);
  g_waitedOn = -1;
  return error;
}

unsigned BusSignals::Arrived() const { return static_cast<unsigned>(g_arrived); }

unsigned BusSignals::Take() {
  const unsigned arrived = static_cast<unsigned>(g_arrived);
  g_arrived = 0;
  return arrived;
}

unsigned BusSignals::WaitOffBus(std::optional<std::chrono::milliseconds> timeout) {
  const sigset_t handled = Handled();
  timespec limit{};
  if (timeout) {
    const long long ms = std::max<long long>(0, timeout->count());
    limit.tv_sec = static_cast<time_t>(ms / 1000);
    limit.tv_nsec = static_cast<long>(ms % 1000) * 1'000'000;
  }
  siginfo_t info{};
  const int signal = ::sigtimedwait(&handled, &info, timeout ? &limit : nullptr);
  if (signal < 0 && errno != EAGAIN && errno != EINTR) Die("sigtimedwait");
  return Take() | (signal > 0 ? BitOf(signal) : 0);
}

}  // namespace nerova::sim::gadget
