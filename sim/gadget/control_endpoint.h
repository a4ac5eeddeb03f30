#pragma once
// The device's side of a control transfer on endpoint 0, as the request
// handling sees it: the data of an IN request, the data or the bare
// acknowledgement of an OUT request, or a stall. Failures go to the request
// log as "BUS ... failed" lines.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <linux/usb/ch9.h>

namespace nerova::sim::gadget {

class ControlEndpoint {
 public:
  virtual ~ControlEndpoint() = default;
  // The data stage of an IN request, cut to the length the host asked for.
  virtual void Reply(const usb_ctrlrequest& request, const std::uint8_t* data, std::size_t length) = 0;
  // The status stage of an OUT request without data.
  virtual void Acknowledge(const usb_ctrlrequest& request) = 0;
  // The data stage of an OUT request; empty when it failed.
  virtual std::vector<std::uint8_t> Receive(const usb_ctrlrequest& request) = 0;
  virtual void Stall(const usb_ctrlrequest& request) = 0;
  // Tells the device controller that the host chose the configuration.
  virtual void Configure() = 0;
};

}  // namespace nerova::sim::gadget
