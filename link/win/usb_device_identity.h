#pragma once
// The serial number and port of the USB device behind a video input, from
// Windows' device tree. A DirectShow video input names its device interface
// (the moniker's "DevicePath"); that interface belongs to the video function
// of a composite USB device (USB\VID_xxxx&PID_xxxx&MI_00\...), whose parent
// is the USB device itself (USB\VID_xxxx&PID_xxxx\<serial number>). Only
// SetupDi calls are used: Wine 8 stubs the configuration manager's
// CM_Locate_DevNodeW and CM_Get_Parent and lacks
// CM_Get_Device_Interface_PropertyW altogether.
#include <string>

namespace nerova::link::win {

struct UsbDeviceIdentity {
  // The last part of the USB device's instance id; empty when Windows made
  // that part up (it then holds '&') because the device has no serial number.
  std::wstring serial;
  // The USB device's first location path, else its location information.
  std::wstring port;
};

// The identity of the USB device behind the present device interface
// `interfacePath`. An interface that is not present or not on USB gives an
// empty identity. A step the system refused leaves what was not found yet
// empty and says which step in `problem` (empty when nothing was refused).
UsbDeviceIdentity UsbDeviceIdentityOf(const std::wstring& interfacePath, std::wstring& problem);

}  // namespace nerova::link::win
