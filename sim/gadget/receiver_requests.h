#pragma once
// What the receiver answers to each control request the host makes: the
// standard requests the device controller leaves to the gadget (descriptors,
// configuration, interfaces), the requests uvcvideo makes at probe and
// before streaming, and the command blocks of the settings unit, which the
// receiver substitute's firmware (ReceiverFirmware) answers. Every request
// goes to the log:
//   MS SET 0x04 wifiname=Yard      a command block written to the settings unit
//   MS GET 0x04 wifiname=Yard      the answer read from it
//   MS USB a1 GET_DEF 0100 0001 34 any other request (type, request, value,
//                                  index, length)
// Texts are logged as bytes, anything outside printable ASCII as \xNN.
#include <array>
#include <cstdint>
#include <string>

#include <linux/usb/ch9.h>

#include "sim/gadget/control_endpoint.h"
#include "sim/gadget/receiver_descriptors.h"
#include "sim/gadget/request_log.h"
#include "sim/receiver_firmware.h"

namespace nerova::sim::gadget {

constexpr std::size_t kProbeControlLength = 34;  // UVC 1.1

struct ReceiverTraits {
  // The iSerialNumber string.
  std::string serial;
  // The settings control's length as GET_LEN tells it; a receiver of other
  // firmware may have another than the command block's.
  int settingsControlLength = kCommandBlockLength;
};

class ReceiverRequests {
 public:
  ReceiverRequests(ReceiverTraits traits, sim::ReceiverValues values, RequestLog& log);

  // The receiver coming onto the bus: its streaming parameters start afresh;
  // its settings are kept, as the real one keeps them in flash.
  void Attached();
  // Answers one request through `ep0`; true when it was a command that
  // restarts the receiver, which then leaves the bus.
  bool Handle(const usb_ctrlrequest& r, ControlEndpoint& ep0);

 private:
  void LogRequest(const usb_ctrlrequest& r, const char* name);
  void Standard(const usb_ctrlrequest& r, ControlEndpoint& ep0);
  void Descriptor(const usb_ctrlrequest& r, ControlEndpoint& ep0);
  void String(const usb_ctrlrequest& r, unsigned index, ControlEndpoint& ep0);
  void Streaming(const usb_ctrlrequest& r, std::uint8_t selector, ControlEndpoint& ep0);
  void Processing(const usb_ctrlrequest& r, ControlEndpoint& ep0);
  bool CommandControl(const usb_ctrlrequest& r, std::uint8_t unit, ControlEndpoint& ep0);
  bool Command(const usb_ctrlrequest& r, ControlEndpoint& ep0);
  void CommandAnswer(const usb_ctrlrequest& r, ControlEndpoint& ep0);

  ReceiverTraits m_traits;
  RequestLog& m_log;
  sim::ReceiverFirmware m_firmware;
  std::array<std::uint8_t, kProbeControlLength> m_probe;
};

}  // namespace nerova::sim::gadget
