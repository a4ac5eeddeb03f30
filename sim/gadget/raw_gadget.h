#pragma once
// The receiver on the bus through raw-gadget (/dev/raw-gadget): a gadget
// driver bound to one device controller, which hands every control request
// the controller does not answer itself to user space. One object is one
// stay on the bus: made, the controller connects and the host enumerates
// the device; gone, the device leaves the bus.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/linux/file_descriptor.h"
#include "sim/gadget/control_endpoint.h"
#include "sim/gadget/request_log.h"

namespace nerova::sim::gadget {

class RawGadget final : public ControlEndpoint {
 public:
  // Binds to the controller `udc` (dummy_hcd's are "dummy_udc.0",
  // "dummy_udc.1", ...) at high speed and connects. Null, with the errno in
  // `error` and what failed in `what`, when it cannot.
  static std::unique_ptr<RawGadget> Attach(const std::string& udc, RequestLog& log, int& error,
                                           std::string& what);

  // The file the next request is waited on.
  int File() const { return m_file.Get(); }
  // Waits for the next event: 0 with `request` filled for a control request,
  // EAGAIN for any other event (the controller's connection), otherwise the
  // errno that ended the wait.
  int NextRequest(usb_ctrlrequest& request);

  void Reply(const usb_ctrlrequest& request, const std::uint8_t* data, std::size_t length) override;
  void Acknowledge(const usb_ctrlrequest& request) override;
  std::vector<std::uint8_t> Receive(const usb_ctrlrequest& request) override;
  void Stall(const usb_ctrlrequest& request) override;
  void Configure() override;

 private:
  RawGadget(link::linux_stack::FileDescriptor file, RequestLog& log) : m_file(std::move(file)), m_log(log) {}
  // An endpoint-0 data or status stage of `length` bytes, IN from `send`
  // or else OUT into `receive` (none: the status stage): the bytes moved, or
  // -1 with errno.
  int Transfer(const std::uint8_t* send, std::uint8_t* receive, std::size_t length, bool zeroPacket);
  void Failed(const char* what);

  link::linux_stack::FileDescriptor m_file;
  RequestLog& m_log;
};

}  // namespace nerova::sim::gadget
