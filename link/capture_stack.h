#pragma once
// The boundary between the receiver link and the platform, drawn at the
// extension-unit query: the video input devices with their display name and
// USB identity, one of them opened, an extension unit of it found by its
// GUID, and the class requests to that unit's controls. Windows speaks
// DirectShow and Kernel Streaming behind it (link/win), Linux sysfs, the USB
// descriptors and uvcvideo's ioctl (link/linux), the tests the receiver
// substitute (sim/).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/guid.h"
#include "link/link_status.h"

namespace nerova::link {

// The class requests of a control, with their USB Video Class codes.
enum class UvcRequest : std::uint8_t {
  SetCur = 0x01,
  GetCur = 0x81,
  GetLen = 0x85,
  GetInfo = 0x86,
};

struct UsbIdentity {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  friend constexpr bool operator==(const UsbIdentity&, const UsbIdentity&) = default;
};

struct VideoInputName {
  std::wstring displayName;
  // Absent for a device that is not on USB.
  std::optional<UsbIdentity> usb;
  // The USB device's serial number (its iSerialNumber string); empty for a
  // device without one or where the platform cannot tell.
  std::wstring serial;
  // The USB device's place on the bus, the same across its restarts in the
  // same port: "1-1.2" on Linux, the location path on Windows. Empty where
  // the platform cannot tell.
  std::wstring port;
};

// How a unit is looked for among a device's units and terminals.
enum class UnitSearch {
  // The extension units only; one that cannot be reached ends the search
  // with its status.
  ExtensionUnits,
  // Every unit and terminal is asked, whatever it is; one that cannot be
  // reached rules out the whole device (NotFound).
  EveryEntity,
};

// One extension unit of an opened device.
class ExtensionUnit {
 public:
  virtual ~ExtensionUnit() = default;
  // One request to control `selector`. `data` holds `size` bytes: sent by
  // SET_CUR, filled by GET_CUR; GET_LEN gives the control's length in 2
  // bytes (little-endian), GET_INFO its capabilities in 1. `transferred` is
  // how many bytes went either way.
  virtual LinkStatus Query(std::uint8_t selector, UvcRequest request, std::uint8_t* data, std::uint32_t size,
                           std::uint32_t& transferred) = 0;
};

// An opened device. Shared: whoever keeps the receiver holds one.
class VideoDevice {
 public:
  virtual ~VideoDevice() = default;
  virtual LinkStatus FindExtensionUnit(const Guid& unit, UnitSearch search, std::unique_ptr<ExtensionUnit>& out) = 0;
};
using DeviceRef = std::shared_ptr<VideoDevice>;

// One entry of the list of video inputs, not opened yet.
class VideoInput {
 public:
  virtual ~VideoInput() = default;
  virtual LinkStatus Name(VideoInputName& out) = 0;
  virtual LinkStatus Open(DeviceRef& out) = 0;
};

// The video inputs in the system's order, one at a time.
class VideoInputList {
 public:
  virtual ~VideoInputList() = default;
  // False at the end of the list.
  virtual bool Next(std::unique_ptr<VideoInput>& out) = 0;
};

class CaptureStack {
 public:
  virtual ~CaptureStack() = default;
  // The list of video inputs; an empty one is no failure. A failure leaves
  // `out` null.
  virtual LinkStatus ListVideoInputs(std::unique_ptr<VideoInputList>& out) = 0;
  // A line for the developer (the debugger on Windows).
  virtual void DebugOutput(const wchar_t* text) = 0;
};

}  // namespace nerova::link
