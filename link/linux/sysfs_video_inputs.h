#pragma once
// The video input devices as sysfs shows them: the video4linux nodes that
// belong to a uvcvideo interface of a USB device, one node per interface.
#include <cstdint>
#include <string>
#include <vector>

#include "link/linux/file_system.h"

namespace nerova::link::linux_stack {

struct SysfsVideoInput {
  std::string nodePath;       // "/dev/video0"
  std::string interfacePath;  // the VideoControl interface, "/sys/devices/.../1-1:1.0"
  std::string usbDevicePath;  // its USB device, "/sys/devices/.../1-1"
  std::uint8_t interfaceNumber = 0;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  // The identity as Windows shows it, then the USB device's place on the
  // bus: "usb#vid_1d6b&pid_010c&mi_00#1-1". Unlike the node's number, which
  // the driver hands out afresh, it stays the same when the receiver
  // restarts on the same port.
  std::wstring displayName;
  // The USB device's serial number as sysfs tells it (the iSerialNumber
  // string); empty for a device without one.
  std::wstring serial;
  // The USB device's sysfs name, its place on the bus: "1-1", "1-1.2".
  std::wstring port;
};

// Lists the inputs in the order of their node numbers. uvcvideo gives each
// interface a capture node and a metadata node; the one whose "index" is
// lowest (0, the capture node) stands for the interface. A system without
// video4linux has no inputs; any other failure to list them is the errno.
int ListSysfsVideoInputs(const FileSystemView& files, std::vector<SysfsVideoInput>& inputs);

// The USB video functions (VideoControl interfaces) that are plugged in but
// not served by uvcvideo, because the module is not loaded, the interface
// was unbound or another driver holds it: no node, so `nodePath` is empty.
// In the order of their place on the bus; none where sysfs cannot tell.
std::vector<SysfsVideoInput> ListUnservedVideoFunctions(const FileSystemView& files);

}  // namespace nerova::link::linux_stack
