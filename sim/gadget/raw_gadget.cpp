#include "sim/gadget/raw_gadget.h"

#include <fcntl.h>
#include <linux/usb/raw_gadget.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace nerova::sim::gadget {

std::unique_ptr<RawGadget> RawGadget::Attach(const std::string& udc, RequestLog& log, int& error,
                                             std::string& what) {
  usb_raw_init init{};
  // dummy_hcd's gadgets are all named after their driver, which each
  // controller's name begins with: "dummy_udc" for "dummy_udc.1".
  const std::string driver = udc.substr(0, udc.rfind('.'));
  if (udc.size() >= sizeof init.device_name) {
    error = ENAMETOOLONG;
    what = "the controller's name";
    return nullptr;
  }
  std::memcpy(init.driver_name, driver.c_str(), driver.size() + 1);
  std::memcpy(init.device_name, udc.c_str(), udc.size() + 1);
  init.speed = USB_SPEED_HIGH;

  link::linux_stack::FileDescriptor file(::open("/dev/raw-gadget", O_RDWR | O_CLOEXEC));
  what = "/dev/raw-gadget";
  if (!file) {
    error = errno;
    return nullptr;
  }
  what = "raw-gadget on " + udc;
  if (::ioctl(file.Get(), USB_RAW_IOCTL_INIT, &init) != 0 || ::ioctl(file.Get(), USB_RAW_IOCTL_RUN, 0) != 0) {
    error = errno;
    return nullptr;
  }
  error = 0;
  return std::unique_ptr<RawGadget>(new RawGadget(std::move(file), log));
}

int RawGadget::NextRequest(usb_ctrlrequest& request) {
  usb_raw_event header{};
  alignas(usb_raw_event) std::uint8_t event[sizeof header + sizeof request];
  header.length = sizeof request;
  std::memcpy(event, &header, sizeof header);
  if (::ioctl(m_file.Get(), USB_RAW_IOCTL_EVENT_FETCH, event) != 0) return errno;
  std::memcpy(&header, event, sizeof header);
  if (header.type != USB_RAW_EVENT_CONTROL || header.length != sizeof request) return EAGAIN;
  std::memcpy(&request, event + sizeof header, sizeof request);
  return 0;
}

int RawGadget::Transfer(const std::uint8_t* send, std::uint8_t* receive, std::size_t length, bool zeroPacket) {
  usb_raw_ep_io header{};
  header.ep = 0;
  header.flags = zeroPacket ? USB_RAW_IO_FLAGS_ZERO : 0;
  header.length = static_cast<std::uint32_t>(length);
  std::vector<std::uint8_t> io(sizeof header + length);
  std::memcpy(io.data(), &header, sizeof header);
  if (send != nullptr) std::copy_n(send, length, io.data() + sizeof header);
  const int moved = ::ioctl(m_file.Get(), send != nullptr ? USB_RAW_IOCTL_EP0_WRITE : USB_RAW_IOCTL_EP0_READ,
                            io.data());
  if (moved > 0 && receive != nullptr) {
    std::copy_n(io.data() + sizeof header, std::min<std::size_t>(static_cast<std::size_t>(moved), length), receive);
  }
  return moved;
}

void RawGadget::Failed(const char* what) {
  m_log.Line(std::string("BUS ") + what + " failed: " + std::generic_category().message(errno));
}

// A reply shorter than the host asked for ends with a short packet, a zero
// length one when it fills its last packet.
void RawGadget::Reply(const usb_ctrlrequest& request, const std::uint8_t* data, std::size_t length) {
  length = std::min<std::size_t>(length, request.wLength);
  if (Transfer(data, nullptr, length, length < request.wLength) < 0) Failed("reply");
}

void RawGadget::Acknowledge(const usb_ctrlrequest&) {
  if (Transfer(nullptr, nullptr, 0, false) < 0) Failed("ack");
}

std::vector<std::uint8_t> RawGadget::Receive(const usb_ctrlrequest& request) {
  std::vector<std::uint8_t> data(request.wLength);
  const int got = Transfer(nullptr, data.data(), data.size(), false);
  if (got < 0) {
    Failed("receive");
    return {};
  }
  data.resize(static_cast<std::size_t>(got));
  return data;
}

void RawGadget::Stall(const usb_ctrlrequest&) {
  if (::ioctl(m_file.Get(), USB_RAW_IOCTL_EP0_STALL, 0) != 0) Failed("stall");
}

void RawGadget::Configure() {
  if (::ioctl(m_file.Get(), USB_RAW_IOCTL_CONFIGURE, 0) != 0) Failed("configure");
}

}  // namespace nerova::sim::gadget
