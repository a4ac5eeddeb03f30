#pragma once
// A virtual receiver's place in the system's device tree, made as Windows'
// USB drivers make it for a receiver that is plugged in: the USB device
// (USB\VID_1D6B&PID_010C\<serial>, with its location path and location
// information), its video function (USB\VID_1D6B&PID_010C&MI_00\...) as that
// device's child, and the function's capture and video interfaces, marked
// present while the receiver is there. Wine knows no such device of its own;
// Windows keeps its device nodes to itself, so there the calls are refused.
#include <string>

#include "sim/virtual/shared_receiver.h"

namespace nerova::sim::virtual_receiver {

// Registers the device nodes (or finds them registered) and marks the
// interfaces present or not. `capturePath` is the capture interface's path,
// the DevicePath a device's moniker names.
bool PlaceInDeviceTree(const VirtualUsbDevice& device, bool present, std::wstring& capturePath);

}  // namespace nerova::sim::virtual_receiver
