#pragma once
// The receiver's USB descriptors as a UVC 1.1 camera: an interface
// association over VideoControl interface 0 (camera terminal -> processing
// unit -> probe unit -> settings unit -> streaming output terminal) and VideoStreaming
// interface 1 (one MJPEG format and frame, a bulk endpoint, since dummy_hcd
// has no isochronous transfers). Both extension units declare control 3,
// the one that carries the command blocks.
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "link/guid.h"

namespace nerova::sim::gadget {

constexpr std::uint16_t kVendorId = 0x1D6B;
constexpr std::uint16_t kProductId = 0x010C;
constexpr std::uint8_t kControlInterface = 0;
constexpr std::uint8_t kStreamingInterface = 1;
constexpr std::uint8_t kCameraTerminalId = 1;
constexpr std::uint8_t kProcessingUnitId = 2;  // brightness and contrast
constexpr std::uint8_t kProbeUnitId = 3;
constexpr std::uint8_t kSettingsUnitId = 4;
constexpr std::uint8_t kOutputTerminalId = 5;
constexpr std::uint8_t kCommandSelector = 3;
constexpr std::uint8_t kStreamingEndpoint = 0x81;
constexpr std::uint16_t kCommandBlockLength = 60;

constexpr std::string_view kManufacturer = "Nerova";
constexpr std::string_view kProduct = "Nerova Wireless Receiver";
// The string descriptors' indexes; the serial number's text is the gadget's option.
constexpr std::uint8_t kManufacturerIndex = 1;
constexpr std::uint8_t kProductIndex = 2;
constexpr std::uint8_t kSerialIndex = 3;

using Bytes = std::vector<std::uint8_t>;

namespace detail {

constexpr std::uint8_t Lo(unsigned value) { return static_cast<std::uint8_t>(value); }
constexpr std::uint8_t Hi(unsigned value) { return static_cast<std::uint8_t>(value >> 8); }

inline void Put(Bytes& to, std::initializer_list<unsigned> bytes) {
  for (unsigned b : bytes) to.push_back(static_cast<std::uint8_t>(b));
}
inline void Put32(Bytes& to, std::uint32_t value) {
  Put(to, {value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF, value >> 24});
}

inline void ExtensionUnit(Bytes& to, std::uint8_t id, const link::Guid& code, std::uint8_t source) {
  Put(to, {27, 0x24, 0x06, id});
  to.insert(to.end(), code.bytes.begin(), code.bytes.end());
  // One control; one input pin; a 2-byte control bitmap; no string.
  Put(to, {1, 1, source, 2, 1u << (kCommandSelector - 1), 0, 0});
}

inline void SetLength16(Bytes& bytes, std::size_t at, std::size_t length) {
  bytes[at] = Lo(static_cast<unsigned>(length));
  bytes[at + 1] = Hi(static_cast<unsigned>(length));
}

}  // namespace detail

inline Bytes DeviceDescriptor() {
  using namespace detail;
  Bytes d;
  // USB 2.0, miscellaneous class with interface associations, 64-byte ep0,
  // manufacturer, product and serial number strings, one configuration.
  Put(d, {18, 0x01, 0x00, 0x02, 0xEF, 0x02, 0x01, 64, Lo(kVendorId), Hi(kVendorId), Lo(kProductId),
          Hi(kProductId), 0x00, 0x01, kManufacturerIndex, kProductIndex, kSerialIndex, 1});
  return d;
}

// The configuration at a speed: the bulk endpoint's packet is 64 bytes at
// full speed, 512 at high speed.
inline Bytes ConfigurationDescriptor(std::uint16_t bulkPacketSize) {
  using namespace detail;
  Bytes d;
  Put(d, {9, 0x02, 0, 0, 2, 1, 0, 0x80, 250});           // wTotalLength patched below
  Put(d, {8, 0x0B, kControlInterface, 2, 0x0E, 0x03, 0x00, 0});  // video interface collection
  Put(d, {9, 0x04, kControlInterface, 0, 0, 0x0E, 0x01, 0x00, 0});

  const std::size_t control = d.size();
  Put(d, {13, 0x24, 0x01, 0x10, 0x01, 0, 0});  // header, UVC 1.1, wTotalLength patched below
  Put32(d, 48'000'000);                        // dwClockFrequency
  Put(d, {1, kStreamingInterface});
  // Camera terminal without standard controls (3-byte bitmap of zeros).
  Put(d, {18, 0x24, 0x02, kCameraTerminalId, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0});
  Put(d, {12, 0x24, 0x05, kProcessingUnitId, kCameraTerminalId, 0, 0, 2, 0x03, 0x00, 0, 0});
  ExtensionUnit(d, kProbeUnitId, link::ProbeUnitGuid, kProcessingUnitId);
  ExtensionUnit(d, kSettingsUnitId, link::SettingsUnitGuid, kProbeUnitId);
  Put(d, {9, 0x24, 0x03, kOutputTerminalId, 0x01, 0x01, 0, kSettingsUnitId, 0});  // USB streaming
  SetLength16(d, control + 5, d.size() - control);

  Put(d, {9, 0x04, kStreamingInterface, 0, 1, 0x0E, 0x02, 0x00, 0});
  const std::size_t streaming = d.size();
  // Input header: one format, the endpoint, linked to the output terminal,
  // no still capture or triggers, one 1-byte control bitmap.
  Put(d, {14, 0x24, 0x01, 1, 0, 0, kStreamingEndpoint, 0, kOutputTerminalId, 0, 0, 0, 1, 0});
  Put(d, {11, 0x24, 0x06, 1, 1, 0x01, 1, 0, 0, 0, 0});  // MJPEG format 1, default frame 1
  // MJPEG frame 1: 1920x1080 at 30 frames per second, one discrete interval.
  constexpr std::uint32_t kFrameInterval = 333'333;  // 100 ns units
  constexpr std::uint32_t kFrameBytes = 1920 * 1080 * 2;
  Put(d, {30, 0x24, 0x07, 1, 0, Lo(1920), Hi(1920), Lo(1080), Hi(1080)});
  Put32(d, kFrameBytes * 8);
  Put32(d, kFrameBytes * 8 * 30);
  Put32(d, kFrameBytes);
  Put32(d, kFrameInterval);
  Put(d, {1});
  Put32(d, kFrameInterval);
  SetLength16(d, streaming + 4, d.size() - streaming);
  Put(d, {7, 0x05, kStreamingEndpoint, 0x02, Lo(bulkPacketSize), Hi(bulkPacketSize), 0});

  SetLength16(d, 2, d.size());
  return d;
}

}  // namespace nerova::sim::gadget
