#include "sim/gadget/receiver_requests.h"

#include <linux/usb/video.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace nerova::sim::gadget {
namespace {

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

std::string BlockLine(const char* direction, const std::uint8_t* block, std::size_t length) {
  char code[8];
  std::snprintf(code, sizeof code, "0x%02x", block[0]);
  const std::string text = BlockText(block, length);
  return std::string(direction) + " " + code + (text.empty() ? "" : " " + text);
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

constexpr std::uint8_t kGetAndSet = 0x03;  // GET_INFO: the control supports GET and SET

}  // namespace

ReceiverRequests::ReceiverRequests(ReceiverTraits traits, sim::ReceiverValues values, RequestLog& log)
    : m_traits(std::move(traits)), m_log(log), m_firmware(std::move(values)), m_probe(DefaultProbe()) {}

void ReceiverRequests::Attached() { m_probe = DefaultProbe(); }

void ReceiverRequests::LogRequest(const usb_ctrlrequest& r, const char* name) {
  char line[96];
  std::snprintf(line, sizeof line, "USB %02x %s %04x %04x %u", r.bRequestType, name, r.wValue, r.wIndex,
                r.wLength);
  m_log.Line(line);
}

bool ReceiverRequests::Handle(const usb_ctrlrequest& r, ControlEndpoint& ep0) {
  const unsigned type = r.bRequestType & USB_TYPE_MASK;
  const unsigned recipient = r.bRequestType & USB_RECIP_MASK;
  if (type == USB_TYPE_STANDARD) {
    Standard(r, ep0);
    return false;
  }
  if (type != USB_TYPE_CLASS || recipient != USB_RECIP_INTERFACE) {
    LogRequest(r, "REQUEST");
    ep0.Stall(r);
    return false;
  }
  const std::uint8_t interface = r.wIndex & 0xFF;
  const std::uint8_t entity = r.wIndex >> 8;
  const std::uint8_t selector = r.wValue >> 8;
  if (interface == kStreamingInterface) {
    Streaming(r, selector, ep0);
    return false;
  }
  if (interface == kControlInterface && entity == kProcessingUnitId) {
    Processing(r, ep0);
    return false;
  }
  if (interface == kControlInterface && (entity == kProbeUnitId || entity == kSettingsUnitId) &&
      selector == kCommandSelector) {
    return CommandControl(r, entity, ep0);
  }
  LogRequest(r, ClassRequestName(r.bRequest));
  if (interface == kControlInterface && entity == 0 && selector == UVC_VC_REQUEST_ERROR_CODE_CONTROL &&
      r.bRequest == UVC_GET_CUR) {
    const std::uint8_t invalidControl = 0x06;
    ep0.Reply(r, &invalidControl, 1);
    return false;
  }
  ep0.Stall(r);
  return false;
}

// The device controller itself answers SET_ADDRESS, GET_STATUS and the
// features; the rest comes here.
void ReceiverRequests::Standard(const usb_ctrlrequest& r, ControlEndpoint& ep0) {
  switch (r.bRequest) {
    case USB_REQ_GET_DESCRIPTOR:
      return Descriptor(r, ep0);
    case USB_REQ_SET_CONFIGURATION:
      LogRequest(r, "SET_CONFIGURATION");
      ep0.Configure();
      return ep0.Acknowledge(r);
    case USB_REQ_SET_INTERFACE:
      LogRequest(r, "SET_INTERFACE");
      return ep0.Acknowledge(r);
    case USB_REQ_GET_INTERFACE: {
      LogRequest(r, "GET_INTERFACE");
      const std::uint8_t alternate = 0;
      return ep0.Reply(r, &alternate, 1);
    }
    default:
      break;
  }
  LogRequest(r, "STANDARD");
  ep0.Stall(r);
}

// dummy_hcd connects a high-speed gadget at high speed: the configuration is
// the high-speed one. A device qualifier, which only a device that can run
// at another speed needs, is not given.
void ReceiverRequests::Descriptor(const usb_ctrlrequest& r, ControlEndpoint& ep0) {
  switch (r.wValue >> 8) {
    case USB_DT_DEVICE: {
      LogRequest(r, "GET_DEVICE");
      const Bytes device = DeviceDescriptor();
      return ep0.Reply(r, device.data(), device.size());
    }
    case USB_DT_CONFIG: {
      LogRequest(r, "GET_CONFIGURATION");
      const Bytes configuration = ConfigurationDescriptor(512);
      return ep0.Reply(r, configuration.data(), configuration.size());
    }
    case USB_DT_STRING:
      return String(r, r.wValue & 0xFF, ep0);
    default:
      LogRequest(r, "GET_DESCRIPTOR");
      return ep0.Stall(r);
  }
}

void ReceiverRequests::String(const usb_ctrlrequest& r, unsigned index, ControlEndpoint& ep0) {
  LogRequest(r, "GET_STRING");
  Bytes d{0, USB_DT_STRING};
  auto put = [&d](std::string_view text) {
    for (char c : text) d.insert(d.end(), {static_cast<std::uint8_t>(c), 0});
  };
  switch (index) {
    case 0: d.insert(d.end(), {0x09, 0x04}); break;  // US English
    case kManufacturerIndex: put(kManufacturer); break;
    case kProductIndex: put(kProduct); break;
    case kSerialIndex: put(m_traits.serial); break;
    default: return ep0.Stall(r);
  }
  d[0] = static_cast<std::uint8_t>(d.size());
  ep0.Reply(r, d.data(), d.size());
}

// The probe and commit controls: uvcvideo sets and reads them at probe
// (GET_DEF, SET_CUR, GET_CUR of the probe control) and before streaming.
void ReceiverRequests::Streaming(const usb_ctrlrequest& r, std::uint8_t selector, ControlEndpoint& ep0) {
  LogRequest(r, ClassRequestName(r.bRequest));
  if (selector != UVC_VS_PROBE_CONTROL && selector != UVC_VS_COMMIT_CONTROL) return ep0.Stall(r);
  switch (r.bRequest) {
    case UVC_SET_CUR: {
      const Bytes data = ep0.Receive(r);
      std::copy_n(data.begin(), std::min(data.size(), m_probe.size()), m_probe.begin());
      return;
    }
    case UVC_GET_CUR:
      return ep0.Reply(r, m_probe.data(), m_probe.size());
    case UVC_GET_DEF:
    case UVC_GET_MIN:
    case UVC_GET_MAX: {
      const auto probe = DefaultProbe();
      return ep0.Reply(r, probe.data(), probe.size());
    }
    case UVC_GET_LEN: {
      const std::uint8_t length[2] = {kProbeControlLength, 0};
      return ep0.Reply(r, length, sizeof length);
    }
    case UVC_GET_INFO:
      return ep0.Reply(r, &kGetAndSet, 1);
    default:
      return ep0.Stall(r);
  }
}

// Brightness and contrast, 16 bits each from 0 to 255: uvcvideo asks
// GET_INFO of both at probe, the rest when an application uses them.
void ReceiverRequests::Processing(const usb_ctrlrequest& r, ControlEndpoint& ep0) {
  LogRequest(r, ClassRequestName(r.bRequest));
  std::uint16_t value = 0;
  switch (r.bRequest) {
    case UVC_GET_INFO:
      return ep0.Reply(r, &kGetAndSet, 1);
    case UVC_SET_CUR:
      ep0.Receive(r);
      return;
    case UVC_GET_MIN: value = 0; break;
    case UVC_GET_MAX: value = 255; break;
    case UVC_GET_RES: value = 1; break;
    case UVC_GET_DEF:
    case UVC_GET_CUR: value = 128; break;
    default:
      return ep0.Stall(r);
  }
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
  ep0.Reply(r, bytes, sizeof bytes);
}

// Control 3 of the extension units: uvcvideo asks GET_LEN and GET_INFO
// before the first query of it; the settings unit's SET_CUR and GET_CUR
// carry the command blocks.
bool ReceiverRequests::CommandControl(const usb_ctrlrequest& r, std::uint8_t unit, ControlEndpoint& ep0) {
  switch (r.bRequest) {
    case UVC_GET_LEN: {
      LogRequest(r, "GET_LEN");
      const int control = unit == kSettingsUnitId ? m_traits.settingsControlLength : kCommandBlockLength;
      const std::uint8_t length[2] = {static_cast<std::uint8_t>(control & 0xFF),
                                      static_cast<std::uint8_t>((control >> 8) & 0xFF)};
      ep0.Reply(r, length, sizeof length);
      return false;
    }
    case UVC_GET_INFO:
      LogRequest(r, "GET_INFO");
      ep0.Reply(r, &kGetAndSet, 1);
      return false;
    case UVC_SET_CUR:
      if (unit == kSettingsUnitId) return Command(r, ep0);
      break;
    case UVC_GET_CUR:
      if (unit == kSettingsUnitId) {
        CommandAnswer(r, ep0);
        return false;
      }
      break;
    default:
      break;
  }
  LogRequest(r, ClassRequestName(r.bRequest));
  ep0.Stall(r);
  return false;
}

bool ReceiverRequests::Command(const usb_ctrlrequest& r, ControlEndpoint& ep0) {
  const Bytes block = ep0.Receive(r);
  if (block.empty()) return false;
  m_log.Line(BlockLine("SET", block.data(), block.size()));
  return m_firmware.Receive(block.data(), block.size());
}

void ReceiverRequests::CommandAnswer(const usb_ctrlrequest& r, ControlEndpoint& ep0) {
  const sim::CommandBlock block = m_firmware.Answer(Now());
  m_log.Line(BlockLine("GET", block.data(), block.size()));
  ep0.Reply(r, block.data(), block.size());
}

}  // namespace nerova::sim::gadget
