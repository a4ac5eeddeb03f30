// receiver-gadget: the receiver as a real USB device, through raw-gadget on
// one device controller (dummy_hcd's in a test guest, one program for each
// receiver), for a Linux host's own uvcvideo driver. The command protocol
// behind the settings unit is the receiver substitute's (ReceiverFirmware);
// this program adds the USB side (receiver_requests.h) and the restart that
// leaves the bus.
//
//   receiver-gadget --log FILE [--udc NAME] [--serial TEXT] [--restart-ms N]
//                   [--settings-control-length N]
//                   [--url T] [--wifi-name T] [--wifi-password T]
//                   [--long-press-time N] [--aging-test N] [--firmware T]
//
// SIGUSR1 unplugs the receiver, SIGUSR2 plugs it back in; SIGTERM and SIGINT
// end the program, which leaves the bus. Besides the requests, the log says
//   MS BUS attached | detached     the receiver entering or leaving the bus
#include <sched.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "sim/gadget/bus_signals.h"
#include "sim/gadget/raw_gadget.h"
#include "sim/gadget/receiver_requests.h"
#include "sim/gadget/request_log.h"

namespace {

using namespace nerova::sim::gadget;

struct Options {
  std::string logPath;
  std::string udc = "dummy_udc.0";
  int restartMs = 3000;
  ReceiverTraits traits{"NRV-GADGET-1"};
  nerova::sim::ReceiverValues values;
};

[[noreturn]] void Die(const std::string& what, int error) {
  std::fprintf(stderr, "receiver-gadget: %s: %s\n", what.c_str(), std::generic_category().message(error).c_str());
  std::exit(1);
}

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr,
               "receiver-gadget: %s\n"
               "usage: receiver-gadget --log FILE [--udc NAME] [--serial TEXT] [--restart-ms N]\n"
               "         [--settings-control-length N]\n"
               "         [--url T] [--wifi-name T] [--wifi-password T] [--long-press-time N]\n"
               "         [--aging-test N] [--firmware T]\n",
               problem.c_str());
  std::exit(2);
}

int Number(std::string_view name, std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) Usage(std::string(name) + " takes a number");
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (i + 1 >= argc) Usage(std::string(name) + " needs a value");
    const std::string value = argv[++i];
    if (name == "--log") o.logPath = value;
    else if (name == "--udc") o.udc = value;
    else if (name == "--serial") o.traits.serial = value;
    else if (name == "--restart-ms") o.restartMs = Number(name, value);
    else if (name == "--settings-control-length") o.traits.settingsControlLength = Number(name, value);
    else if (name == "--url") o.values.url = value;
    else if (name == "--wifi-name") o.values.wifiName = value;
    else if (name == "--wifi-password") o.values.wifiPassword = value;
    else if (name == "--long-press-time") o.values.longPressTime = Number(name, value);
    else if (name == "--aging-test") o.values.agingTest = Number(name, value);
    else if (name == "--firmware") o.values.firmwareVersion = value;
    else Usage("unknown option " + std::string(name));
  }
  if (o.logPath.empty()) Usage("--log is needed");
  if (o.traits.settingsControlLength < 1 || o.traits.settingsControlLength > 0xFFFF) {
    Usage("--settings-control-length is from 1 to 65535");
  }
  // A string descriptor holds at most 126 UTF-16 units.
  if (o.traits.serial.size() > 126) Usage("--serial is at most 126 characters");
  return o;
}

class ReceiverGadget {
 public:
  ReceiverGadget(const Options& options, RequestLog& log, BusSignals& signals)
      : m_options(options), m_log(log), m_signals(signals), m_requests(options.traits, options.values, log) {}

  int Run() {
    Attach();
    for (;;) {
      const unsigned arrived = m_gadget ? m_signals.Take() : m_signals.WaitOffBus(TimeToReturn());
      if (arrived & kStop) {
        m_log.Line("BUS stopped");
        return 0;
      }
      if (arrived & kUnplug) Detach(std::nullopt);
      if (!m_gadget) {
        if ((arrived & kPlug) || (m_returnAt && Now() >= *m_returnAt)) Attach();
        continue;
      }
      Serve();
    }
  }

 private:
  void Attach() {
    m_returnAt.reset();
    int error = 0;
    std::string what;
    m_gadget = RawGadget::Attach(m_options.udc, m_log, error, what);
    if (!m_gadget) Die(what, error);
    m_requests.Attached();
    m_log.Line("BUS attached");
  }

  // Closing the raw-gadget file takes the receiver off the bus; it comes
  // back at `returnAt` or when told to.
  void Detach(std::optional<std::chrono::milliseconds> returnAt) {
    if (!m_gadget) return;
    m_gadget.reset();
    m_returnAt = returnAt;
    m_log.Line("BUS detached");
  }

  std::optional<std::chrono::milliseconds> TimeToReturn() const {
    if (!m_returnAt) return std::nullopt;
    return *m_returnAt - Now();
  }

  // Waits for one request and answers it. A signal that unplugs or stops
  // has taken the receiver off the bus already: a request fetched just
  // before it is left unanswered.
  void Serve() {
    usb_ctrlrequest request{};
    const int error = m_signals.LetIn(m_gadget->File(), [&] { return m_gadget->NextRequest(request); });
    if (m_signals.Arrived() & (kUnplug | kStop)) return;
    if (error == EAGAIN || error == EINTR) return;
    if (error != 0) Die("raw-gadget's events", error);
    if (m_requests.Handle(request, *m_gadget)) Detach(Now() + std::chrono::milliseconds(m_options.restartMs));
  }

  const Options& m_options;
  RequestLog& m_log;
  BusSignals& m_signals;
  ReceiverRequests m_requests;
  std::unique_ptr<RawGadget> m_gadget;
  std::optional<std::chrono::milliseconds> m_returnAt;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  // dummy_hcd moves a transfer's data in its own timer, and the host gives
  // up on a control request after a few seconds; above every ordinary task,
  // the gadget answers in time however busy the machine is.
  const sched_param priority{1};
  if (::sched_setscheduler(0, SCHED_FIFO, &priority) != 0) {
    std::fprintf(stderr, "receiver-gadget: no real-time priority (%s); answers may come late\n",
                 std::generic_category().message(errno).c_str());
  }
  BusSignals signals;
  RequestLog log(options.logPath);
  ReceiverGadget gadget(options, log, signals);
  return gadget.Run();
}
