// receiver-gadget: the receiver as a real USB device, through gadgetfs, for
// a Linux host's own uvcvideo driver (dummy_hcd in a test guest). The
// command protocol behind the settings unit is the receiver substitute's
// (ReceiverFirmware); this program adds the USB side: descriptors, the
// requests uvcvideo makes at probe, and the restart that leaves the bus.
//
//   receiver-gadget --log FILE [--gadgetfs DIR] [--udc NAME] [--restart-ms N]
//                   [--url T] [--wifi-name T] [--wifi-password T]
//                   [--long-press-time N] [--aging-test N] [--firmware T]
//
// SIGUSR1 unplugs the receiver, SIGUSR2 plugs it back in; SIGTERM and SIGINT
// end the program, which leaves the bus. Every request goes to the log, one
// line each, with the monotonic clock in ms (the guest's uptime):
//   MS SET 0x04 wifiname=Yard      a command block written to the settings unit
//   MS GET 0x04 wifiname=Yard      the answer read from it
//   MS USB a1 GET_DEF 0100 0001 34 any other request (type, request, value,
//                                  index, length)
//   MS BUS attached | detached     the receiver entering or leaving the bus
// Texts are printed as bytes, anything outside printable ASCII as \xNN.
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <linux/usb/video.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "link/linux/file_descriptor.h"
#include "sim/gadget/receiver_descriptors.h"
#include "sim/receiver_firmware.h"

namespace {

using namespace nerova;
using namespace nerova::sim::gadget;
using link::linux_stack::FileDescriptor;

constexpr std::size_t kProbeControlLength = 34;  // UVC 1.1

struct Options {
  std::string logPath;
  std::string gadgetfs = "/dev/gadget";
  std::string udc = "dummy_udc";
  int restartMs = 3000;
  // The settings control's length as GET_LEN tells it; a receiver of other
  // firmware may have another than the command block's.
  int settingsControlLength = kCommandBlockLength;
  sim::ReceiverValues values;
};

std::chrono::milliseconds Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

[[noreturn]] void Die(const std::string& what, int error) {
  std::fprintf(stderr, "receiver-gadget: %s: %s\n", what.c_str(), std::generic_category().message(error).c_str());
  std::exit(1);
}

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr,
               "receiver-gadget: %s\n"
               "usage: receiver-gadget --log FILE [--gadgetfs DIR] [--udc NAME] [--restart-ms N]\n"
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
    else if (name == "--gadgetfs") o.gadgetfs = value;
    else if (name == "--udc") o.udc = value;
    else if (name == "--restart-ms") o.restartMs = Number(name, value);
    else if (name == "--settings-control-length") o.settingsControlLength = Number(name, value);
    else if (name == "--url") o.values.url = value;
    else if (name == "--wifi-name") o.values.wifiName = value;
    else if (name == "--wifi-password") o.values.wifiPassword = value;
    else if (name == "--long-press-time") o.values.longPressTime = Number(name, value);
    else if (name == "--aging-test") o.values.agingTest = Number(name, value);
    else if (name == "--firmware") o.values.firmwareVersion = value;
    else Usage("unknown option " + std::string(name));
  }
  if (o.logPath.empty()) Usage("--log is needed");
  if (o.settingsControlLength < 1 || o.settingsControlLength > 0xFFFF) {
    Usage("--settings-control-length is from 1 to 65535");
  }
  return o;
}

// The text of a command block: its payload up to the first zero byte.
std::string BlockText(const std::uint8_t* block, std::size_t length) {
  std::string text;
  for (std::size_t i = 1; i < length && block[i] != 0; ++i) {
    const std::uint8_t c = block[i];
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += static_cast<char>(c);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      text += escaped;
    }
  }
  return text;
}

const char* ClassRequestName(std::uint8_t request) {
  switch (request) {
    case UVC_SET_CUR: return "SET_CUR";
    case UVC_GET_CUR: return "GET_CUR";
    case UVC_GET_MIN: return "GET_MIN";
    case UVC_GET_MAX: return "GET_MAX";
    case UVC_GET_RES: return "GET_RES";
    case UVC_GET_LEN: return "GET_LEN";
    case UVC_GET_INFO: return "GET_INFO";
    case UVC_GET_DEF: return "GET_DEF";
    default: return "REQUEST";
  }
}

// The streaming parameters the receiver proposes: MJPEG format 1, frame 1
// at 30 frames per second, whole frames in bulk transfers of 512 bytes.
std::array<std::uint8_t, kProbeControlLength> DefaultProbe() {
  std::array<std::uint8_t, kProbeControlLength> p{};
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  p[2] = 1;                     // bFormatIndex
  p[3] = 1;                     // bFrameIndex
  put32(4, 333'333);            // dwFrameInterval
  put32(18, 1920 * 1080 * 2);   // dwMaxVideoFrameSize
  put32(22, 512);               // dwMaxPayloadTransferSize
  put32(26, 48'000'000);        // dwClockFrequency
  p[30] = 0x03;                 // bmFramingInfo
  p[31] = p[32] = p[33] = 1;    // payload format versions
  return p;
}

class RequestLog {
 public:
  explicit RequestLog(const std::string& path) : m_file(std::fopen(path.c_str(), "a")) {
    if (m_file == nullptr) Die("cannot open " + path, errno);
  }
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;
  ~RequestLog() { std::fclose(m_file); }

  void Line(const std::string& text) {
    std::fprintf(m_file, "%lld %s\n", static_cast<long long>(Now().count()), text.c_str());
    std::fflush(m_file);
  }

 private:
  std::FILE* m_file;
};

class ReceiverGadget {
 public:
  ReceiverGadget(const Options& options, RequestLog& log)
      : m_options(options), m_log(log), m_firmware(options.values), m_probe(DefaultProbe()) {}

  int Run(int signals) {
    Attach();
    for (;;) {
      pollfd fds[2] = {{signals, POLLIN, 0}, {m_ep0.Get(), POLLIN, 0}};
      const nfds_t count = m_ep0 ? 2 : 1;
      int timeout = -1;
      if (m_returnAt) timeout = static_cast<int>(std::max<long long>(0, (*m_returnAt - Now()).count()));
      if (::poll(fds, count, timeout) < 0) {
        if (errno == EINTR) continue;
        Die("poll", errno);
      }
      if (fds[0].revents & POLLIN) {
        signalfd_siginfo info{};
        if (::read(signals, &info, sizeof info) != sizeof info) Die("signalfd", errno);
        switch (info.ssi_signo) {
          case SIGUSR1:
            Detach(std::nullopt);
            break;
          case SIGUSR2:
            if (!m_ep0) Attach();
            break;
          default:
            m_log.Line("BUS stopped");
            return 0;
        }
        continue;
      }
      if (m_returnAt && Now() >= *m_returnAt) {
        Attach();
        continue;
      }
      if (count == 2 && (fds[1].revents & (POLLIN | POLLERR | POLLHUP))) ReadEvents();
    }
  }

 private:
  // Opens the controller's ep0 file and hands gadgetfs the descriptors
  // (tag 0, full-speed and high-speed configurations, device); the
  // controller then connects and the host enumerates the receiver.
  void Attach() {
    m_returnAt.reset();
    const std::string path = m_options.gadgetfs + "/" + m_options.udc;
    FileDescriptor ep0(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!ep0) Die("cannot open " + path, errno);
    Bytes setup(4, 0);
    for (const Bytes& part : {ConfigurationDescriptor(64), ConfigurationDescriptor(512), DeviceDescriptor()}) {
      setup.insert(setup.end(), part.begin(), part.end());
    }
    if (::write(ep0.Get(), setup.data(), setup.size()) != static_cast<ssize_t>(setup.size())) {
      Die("gadgetfs refused the descriptors", errno);
    }
    m_ep0 = std::move(ep0);
    m_probe = DefaultProbe();
    m_log.Line("BUS attached");
  }

  // Closing ep0 takes the receiver off the bus; it comes back at `returnAt`
  // or when told to.
  void Detach(std::optional<std::chrono::milliseconds> returnAt) {
    if (!m_ep0) return;
    m_ep0.Reset();
    m_returnAt = returnAt;
    m_log.Line("BUS detached");
  }

  void ReadEvents() {
    usb_gadgetfs_event events[4];
    const ssize_t got = ::read(m_ep0.Get(), events, sizeof events);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) return;
      m_log.Line("BUS ep0 read failed: " + std::generic_category().message(errno));
      return;
    }
    for (ssize_t i = 0; i < got / static_cast<ssize_t>(sizeof events[0]); ++i) {
      if (events[i].type == GADGETFS_SETUP) Setup(events[i].u.setup);
      if (!m_ep0) return;  // the request restarted the receiver
    }
  }

  // --- Answers on ep0 -------------------------------------------------------
  // gadgetfs takes a write as the data of an IN request, a read as the data
  // (or the bare acknowledgement) of an OUT request, and either in the wrong
  // direction as a stall.
  void Reply(const usb_ctrlrequest& r, const std::uint8_t* data, std::size_t length) {
    length = std::min<std::size_t>(length, r.wLength);
    if (::write(m_ep0.Get(), data, length) < 0) {
      m_log.Line("BUS reply failed: " + std::generic_category().message(errno));
    }
  }
  void Acknowledge() {
    std::uint8_t none = 0;
    if (::read(m_ep0.Get(), &none, 0) < 0) m_log.Line("BUS ack failed: " + std::generic_category().message(errno));
  }
  // The data stage of an OUT request, which gadgetfs cannot refuse.
  Bytes Receive(const usb_ctrlrequest& r) {
    Bytes data(r.wLength);
    const ssize_t got = ::read(m_ep0.Get(), data.data(), data.size());
    if (got < 0) {
      m_log.Line("BUS receive failed: " + std::generic_category().message(errno));
      return {};
    }
    data.resize(static_cast<std::size_t>(got));
    return data;
  }
  // gadgetfs answers a stall with EL2HLT.
  void Stall(const usb_ctrlrequest& r) {
    std::uint8_t none = 0;
    ssize_t result = 0;
    if (r.bRequestType & USB_DIR_IN) {
      result = ::read(m_ep0.Get(), &none, 0);
    } else if (r.wLength == 0) {
      result = ::write(m_ep0.Get(), &none, 0);
    } else {
      Receive(r);
    }
    if (result < 0 && errno != EL2HLT) m_log.Line("BUS stall failed: " + std::generic_category().message(errno));
  }

  void LogRequest(const usb_ctrlrequest& r, const char* name) {
    char line[96];
    std::snprintf(line, sizeof line, "USB %02x %s %04x %04x %u", r.bRequestType, name, r.wValue, r.wIndex,
                  r.wLength);
    m_log.Line(line);
  }

  void Setup(const usb_ctrlrequest& r) {
    const unsigned type = r.bRequestType & USB_TYPE_MASK;
    const unsigned recipient = r.bRequestType & USB_RECIP_MASK;
    if (type == USB_TYPE_STANDARD) return Standard(r);
    if (type != USB_TYPE_CLASS || recipient != USB_RECIP_INTERFACE) {
      LogRequest(r, "REQUEST");
      return Stall(r);
    }
    const std::uint8_t interface = r.wIndex & 0xFF;
    const std::uint8_t entity = r.wIndex >> 8;
    const std::uint8_t selector = r.wValue >> 8;
    if (interface == kStreamingInterface) return Streaming(r, selector);
    if (interface == kControlInterface && entity == kProcessingUnitId) return Processing(r);
    if (interface == kControlInterface && (entity == kProbeUnitId || entity == kSettingsUnitId) &&
        selector == kCommandSelector) {
      return CommandControl(r, entity);
    }
    LogRequest(r, ClassRequestName(r.bRequest));
    if (interface == kControlInterface && entity == 0 && selector == UVC_VC_REQUEST_ERROR_CODE_CONTROL &&
        r.bRequest == UVC_GET_CUR) {
      const std::uint8_t invalidControl = 0x06;
      return Reply(r, &invalidControl, 1);
    }
    Stall(r);
  }

  void Standard(const usb_ctrlrequest& r) {
    switch (r.bRequest) {
      case USB_REQ_GET_DESCRIPTOR:
        if ((r.wValue >> 8) == USB_DT_STRING) return String(r, r.wValue & 0xFF);
        break;
      case USB_REQ_SET_CONFIGURATION:
        LogRequest(r, "SET_CONFIGURATION");
        return Acknowledge();
      case USB_REQ_SET_INTERFACE:
        LogRequest(r, "SET_INTERFACE");
        return Acknowledge();
      case USB_REQ_GET_INTERFACE: {
        LogRequest(r, "GET_INTERFACE");
        const std::uint8_t alternate = 0;
        return Reply(r, &alternate, 1);
      }
      default:
        break;
    }
    LogRequest(r, "STANDARD");
    Stall(r);
  }

  void String(const usb_ctrlrequest& r, unsigned index) {
    LogRequest(r, "GET_STRING");
    Bytes d{0, USB_DT_STRING};
    if (index == 0) {
      d.insert(d.end(), {0x09, 0x04});  // US English
    } else if (index == 1 || index == 2) {
      for (char c : index == 1 ? kManufacturer : kProduct) d.insert(d.end(), {static_cast<std::uint8_t>(c), 0});
    } else {
      return Stall(r);
    }
    d[0] = static_cast<std::uint8_t>(d.size());
    Reply(r, d.data(), d.size());
  }

  // The probe and commit controls: uvcvideo sets and reads them at probe
  // (GET_DEF, SET_CUR, GET_CUR of the probe control) and before streaming.
  void Streaming(const usb_ctrlrequest& r, std::uint8_t selector) {
    LogRequest(r, ClassRequestName(r.bRequest));
    if (selector != UVC_VS_PROBE_CONTROL && selector != UVC_VS_COMMIT_CONTROL) return Stall(r);
    switch (r.bRequest) {
      case UVC_SET_CUR: {
        const Bytes data = Receive(r);
        std::copy_n(data.begin(), std::min(data.size(), m_probe.size()), m_probe.begin());
        return;
      }
      case UVC_GET_CUR:
        return Reply(r, m_probe.data(), m_probe.size());
      case UVC_GET_DEF:
      case UVC_GET_MIN:
      case UVC_GET_MAX: {
        const auto probe = DefaultProbe();
        return Reply(r, probe.data(), probe.size());
      }
      case UVC_GET_LEN: {
        const std::uint8_t length[2] = {kProbeControlLength, 0};
        return Reply(r, length, sizeof length);
      }
      case UVC_GET_INFO: {
        const std::uint8_t getAndSet = 0x03;
        return Reply(r, &getAndSet, 1);
      }
      default:
        return Stall(r);
    }
  }

  // Brightness and contrast, 16 bits each from 0 to 255: uvcvideo asks
  // GET_INFO of both at probe, the rest when an application uses them.
  void Processing(const usb_ctrlrequest& r) {
    LogRequest(r, ClassRequestName(r.bRequest));
    std::uint16_t value = 0;
    switch (r.bRequest) {
      case UVC_GET_INFO: {
        const std::uint8_t getAndSet = 0x03;
        return Reply(r, &getAndSet, 1);
      }
      case UVC_SET_CUR:
        Receive(r);
        return;
      case UVC_GET_MIN: value = 0; break;
      case UVC_GET_MAX: value = 255; break;
      case UVC_GET_RES: value = 1; break;
      case UVC_GET_DEF:
      case UVC_GET_CUR: value = 128; break;
      default:
        return Stall(r);
    }
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    Reply(r, bytes, sizeof bytes);
  }

  // Control 3 of the extension units: uvcvideo asks GET_LEN and GET_INFO
  // before the first query of it; the settings unit's SET_CUR and GET_CUR
  // carry the command blocks.
  void CommandControl(const usb_ctrlrequest& r, std::uint8_t unit) {
    switch (r.bRequest) {
      case UVC_GET_LEN: {
        LogRequest(r, "GET_LEN");
        const int control = unit == kSettingsUnitId ? m_options.settingsControlLength : kCommandBlockLength;
        const std::uint8_t length[2] = {static_cast<std::uint8_t>(control & 0xFF),
                                        static_cast<std::uint8_t>((control >> 8) & 0xFF)};
        return Reply(r, length, sizeof length);
      }
      case UVC_GET_INFO: {
        LogRequest(r, "GET_INFO");
        const std::uint8_t getAndSet = 0x03;
        return Reply(r, &getAndSet, 1);
      }
      case UVC_SET_CUR:
        if (unit == kSettingsUnitId) return Command(r);
        break;
      case UVC_GET_CUR:
        if (unit == kSettingsUnitId) return Answer(r);
        break;
      default:
        break;
    }
    LogRequest(r, ClassRequestName(r.bRequest));
    Stall(r);
  }

  void Command(const usb_ctrlrequest& r) {
    const Bytes block = Receive(r);
    if (block.empty()) return;
    char code[8];
    std::snprintf(code, sizeof code, "0x%02x", block[0]);
    const std::string text = BlockText(block.data(), block.size());
    m_log.Line("SET " + std::string(code) + (text.empty() ? "" : " " + text));
    if (m_firmware.Receive(block.data(), block.size())) {
      Detach(Now() + std::chrono::milliseconds(m_options.restartMs));
    }
  }

  void Answer(const usb_ctrlrequest& r) {
    const sim::CommandBlock block = m_firmware.Answer(Now());
    char code[8];
    std::snprintf(code, sizeof code, "0x%02x", block[0]);
    const std::string text = BlockText(block.data(), block.size());
    m_log.Line("GET " + std::string(code) + (text.empty() ? "" : " " + text));
    Reply(r, block.data(), block.size());
  }

  const Options& m_options;
  RequestLog& m_log;
  sim::ReceiverFirmware m_firmware;
  std::array<std::uint8_t, kProbeControlLength> m_probe;
  FileDescriptor m_ep0;
  std::optional<std::chrono::milliseconds> m_returnAt;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  // dummy_hcd completes a control OUT transfer, and the host sends its next
  // request, as soon as the data has moved; gadgetfs then drops the data
  // that user space has not read yet. Above every ordinary task, the gadget
  // reads it first.
  const sched_param priority{1};
  if (::sched_setscheduler(0, SCHED_FIFO, &priority) != 0) {
    std::fprintf(stderr, "receiver-gadget: no real-time priority (%s); OUT data may be lost\n",
                 std::generic_category().message(errno).c_str());
  }
  sigset_t handled;
  sigemptyset(&handled);
  for (int s : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) sigaddset(&handled, s);
  if (sigprocmask(SIG_BLOCK, &handled, nullptr) != 0) Die("sigprocmask", errno);
  const FileDescriptor signals(::signalfd(-1, &handled, SFD_CLOEXEC));
  if (!signals) Die("signalfd", errno);
  RequestLog log(options.logPath);
  ReceiverGadget gadget(options, log);
  return gadget.Run(signals.Get());
}
