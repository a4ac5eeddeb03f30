#include "link/receiver_link.h"

#include <array>
#include <cstring>
#include <string>

#include "link/ks_request.h"

namespace nerova::link {
namespace {

constexpr wchar_t kNoDeviceLine[] = L"No video capture device was detected.\r\n\r\n";

bool Failed(HResult hr) { return hr < 0; }

// "vid_%.4x&pid_%.4x": lower-case hexadecimal, at least four digits each.
std::wstring UsbIdentityText(std::uint16_t vendor, std::uint16_t product) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  auto hex4 = [](std::uint16_t value) {
    std::wstring digits(4, L'0');
    for (int i = 3; i >= 0; --i, value >>= 4) digits[i] = kHex[value & 0xF];
    return digits;
  };
  return L"vid_" + hex4(vendor) + L"&pid_" + hex4(product);
}

// Opens the video input category. Yields null and the result to return when
// the enumerator cannot be made or the category is empty.
HResult OpenVideoInputs(CaptureStack& stack, std::unique_ptr<DeviceEnumeration>& devices,
                        bool reportEmpty) {
  devices.reset();
  const HResult hr = stack.EnumerateVideoInputs(devices);
  if (Failed(hr)) {
    devices.reset();
    return hr;
  }
  if (!devices) {
    if (reportEmpty) stack.DebugOutput(kNoDeviceLine);
    return kE_FAIL;
  }
  return kS_OK;
}

// The unit-information query: does this node carry the unit with property
// set `unit`? Only the answer's GUID counts, not the request's result,
// because that is what identifies the unit.
bool NodeCarriesUnit(NodeControl& control, std::uint32_t node, const Guid& unit) {
  const KsNodeRequest request = NodeGetRequest(unit, kUnitInfoProperty, node);
  std::array<std::uint8_t, 32> answer{};
  std::uint32_t bytesReturned = 0;
  control.KsProperty(request.data(), kKsNodeRequestSize, answer.data(),
                     static_cast<std::uint32_t>(answer.size()), bytesReturned);
  return std::memcmp(answer.data(), unit.bytes.data(), unit.bytes.size()) == 0;
}

HResult SetTransfer(NodeControl& control, std::uint32_t node, const std::uint8_t* data,
                    std::uint32_t length) {
  const KsNodeRequest request = NodeSetRequest(SettingsUnitGuid, kSettingsControl, node);
  std::uint32_t bytesReturned = 0;
  // KsProperty's data pointer serves both directions; a SET only reads it.
  return control.KsProperty(request.data(), kKsNodeRequestSize, const_cast<std::uint8_t*>(data),
                            length, bytesReturned);
}

HResult GetTransfer(NodeControl& control, std::uint32_t node, std::uint8_t* buffer,
                    std::uint32_t capacity) {
  const KsNodeRequest request = NodeGetRequest(SettingsUnitGuid, kSettingsControl, node);

  // The video-class driver answers a GET without a buffer with ERROR_MORE_DATA
  // and the control's length. A driver that instead succeeds outright has
  // written nothing, so its count is believed only when it names a length;
  // a control of no bytes is no control to read, whichever way it is
  // reported (reading it would "succeed" with an untouched buffer).
  std::uint32_t controlLength = 0;
  const HResult size =
      control.KsProperty(request.data(), kKsNodeRequestSize, nullptr, 0, controlLength);
  if (size != kMoreData && size != kS_OK) return size;
  if (controlLength == 0) return kE_FAIL;

  if (controlLength > capacity) return kMoreData;

  std::uint32_t bytesReturned = 0;
  const HResult read =
      control.KsProperty(request.data(), kKsNodeRequestSize, buffer, controlLength, bytesReturned);
  // A refused read returns no bytes; its own result says more than the count.
  if (read != kS_OK) return read;
  return bytesReturned == controlLength ? kS_OK : kE_FAIL;
}

// The node walk shared by SetCur and GetCur: finds the nodes that carry the
// settings unit and runs the direction's transfer on each until one succeeds.
template <typename Transfer>
HResult FindSettingsNode(ReceiverLink& link, CaptureFilter* filter, Transfer&& transfer) {
  FilterRef device;
  if (filter) {
    device = FilterRef::Share(filter);
  } else if (const HResult hr = link.FindReceiverByUsbId(device); hr != kS_OK) {
    return hr;
  }

  std::unique_ptr<Topology> topology;
  if (const HResult hr = device->QueryTopology(topology); Failed(hr) || !topology) {
    return Failed(hr) ? hr : kE_NOINTERFACE;
  }
  std::uint32_t nodes = 0;
  if (const HResult hr = topology->GetNumNodes(nodes); Failed(hr)) return hr;

  // Every node carrying the settings unit gets its turn until one transfer
  // succeeds; the result of the last refused transfer is what the caller sees.
  HResult lastFailure = kS_OK;
  for (std::uint32_t node = 0; node < nodes; ++node) {
    Guid type;
    if (Failed(topology->GetNodeType(node, type)) || type != KSNODETYPE_DEV_SPECIFIC) continue;

    std::unique_ptr<NodeControl> control;
    if (const HResult hr = topology->CreateNodeControl(node, control); Failed(hr) || !control) {
      return Failed(hr) ? hr : kE_NOINTERFACE;
    }
    if (!NodeCarriesUnit(*control, node, SettingsUnitGuid)) continue;

    const HResult hr = transfer(*control, node);
    if (hr == kS_OK) return kS_OK;
    lastFailure = hr;
  }
  return lastFailure != kS_OK ? lastFailure : kE_FAIL;
}

}  // namespace

bool CarriesReceiverIdentity(std::wstring_view displayName) {
  static const std::wstring identity = UsbIdentityText(kReceiverVendorId, kReceiverProductId);
  return displayName.find(identity) != std::wstring_view::npos;
}

HResult ReceiverLink::FindReceiverByUsbId(FilterRef& out) {
  out.Reset();
  std::unique_ptr<DeviceEnumeration> devices;
  if (const HResult hr = OpenVideoInputs(m_stack, devices, false); hr != kS_OK) return hr;

  for (;;) {
    std::unique_ptr<DeviceMoniker> moniker;
    if (devices->Next(moniker) != kS_OK || !moniker) return kE_FAIL;

    // The name is examined whole, however long: a fixed copy would cut a long
    // name and could hide the identity text at its end.
    std::wstring name;
    if (Failed(moniker->GetDisplayName(name))) continue;
    if (!CarriesReceiverIdentity(name)) continue;

    // Only the first matching device is used.
    FilterRef filter;
    const HResult hr = moniker->BindToFilter(filter);
    if (Failed(hr)) return hr;
    if (!filter) return kE_FAIL;
    out = std::move(filter);
    return kS_OK;
  }
}

HResult ReceiverLink::FindReceiverByProbeUnit(FilterRef& out) {
  out.Reset();
  std::unique_ptr<DeviceEnumeration> devices;
  if (const HResult hr = OpenVideoInputs(m_stack, devices, true); hr != kS_OK) return hr;

  for (;;) {
    std::unique_ptr<DeviceMoniker> moniker;
    if (devices->Next(moniker) != kS_OK || !moniker) return kE_FAIL;

    FilterRef filter;
    if (Failed(moniker->BindToFilter(filter)) || !filter) continue;
    std::unique_ptr<Topology> topology;
    if (Failed(filter->QueryTopology(topology)) || !topology) continue;

    std::uint32_t nodes = 0;
    if (Failed(topology->GetNumNodes(nodes))) continue;
    // Every node is asked, whatever its type. A node whose control cannot be
    // opened rules out the whole device.
    for (std::uint32_t node = 0; node < nodes; ++node) {
      std::unique_ptr<NodeControl> control;
      if (Failed(topology->CreateNodeControl(node, control)) || !control) break;
      if (NodeCarriesUnit(*control, node, ProbeUnitGuid)) {
        out = std::move(filter);
        return kS_OK;
      }
    }
  }
}

HResult ReceiverLink::SetCur(const std::uint8_t* data, std::uint32_t length,
                             CaptureFilter* filter) {
  if (data == nullptr && length != 0) return kE_POINTER;
  return FindSettingsNode(*this, filter, [&](NodeControl& control, std::uint32_t node) {
    return SetTransfer(control, node, data, length);
  });
}

HResult ReceiverLink::GetCur(std::uint8_t* buffer, std::uint32_t capacity, CaptureFilter* filter) {
  if (buffer == nullptr && capacity != 0) return kE_POINTER;
  return FindSettingsNode(*this, filter, [&](NodeControl& control, std::uint32_t node) {
    return GetTransfer(control, node, buffer, capacity);
  });
}

}  // namespace nerova::link
