#include "link/linux/uvc_node_control.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

#include "link/ks_request.h"
#include "link/linux/errno_result.h"

namespace nerova::link::linux_stack {
namespace {

constexpr std::uint32_t kLargestSelector = 0xFF;

const char* QueryName(std::uint8_t query) {
  switch (query) {
    case kUvcGetLen:
      return "GET_LEN";
    case kUvcGetCur:
      return "GET_CUR";
    case kUvcSetCur:
      return "SET_CUR";
    default:
      return "query";
  }
}

}  // namespace

HResult UvcNodeControl::KsProperty(const void* property, std::uint32_t propertyLength, void* data,
                                   std::uint32_t dataLength, std::uint32_t& bytesReturned) {
  bytesReturned = 0;
  KsNodeFields request;
  if (property == nullptr || !ParseKsNodeRequest(property, propertyLength, request)) {
    return kE_INVALIDARG;
  }
  if (request.nodeId >= m_bound->entities.size()) return kNotFound;
  const UvcEntity& unit = m_bound->entities[request.nodeId];
  if (unit.kind != UvcEntityKind::ExtensionUnit || request.set != unit.extensionCode) {
    return kSetNotFound;
  }

  const bool get = (request.flags & kKsPropertyTypeGet) != 0;
  const bool set = (request.flags & kKsPropertyTypeSet) != 0;
  if (get == set) return kE_INVALIDARG;
  if (request.id == kUnitInfoProperty) {
    return get ? UnitInformation(unit, data, dataLength, bytesReturned) : kNotSupported;
  }
  if (request.id > kLargestSelector) return kNotFound;
  const auto selector = static_cast<std::uint8_t>(request.id);
  if (data == nullptr && dataLength != 0) return kE_POINTER;
  // The driver's transfers carry at most 65535 bytes.
  if (dataLength > std::numeric_limits<std::uint16_t>::max()) return kE_INVALIDARG;
  auto* bytes = static_cast<std::uint8_t*>(data);
  const auto size = static_cast<std::uint16_t>(dataLength);

  if (set) return Query(unit, selector, kUvcSetCur, size, bytes);
  if (size == 0) {
    std::array<std::uint8_t, 2> length{};
    if (const HResult hr = Query(unit, selector, kUvcGetLen, 2, length.data()); hr != kS_OK) {
      return hr;
    }
    bytesReturned = static_cast<std::uint32_t>(length[0] | (length[1] << 8));
    return kMoreData;
  }
  if (const HResult hr = Query(unit, selector, kUvcGetCur, size, bytes); hr != kS_OK) return hr;
  bytesReturned = size;
  return kS_OK;
}

HResult UvcNodeControl::UnitInformation(const UvcEntity& unit, void* data,
                                        std::uint32_t dataLength, std::uint32_t& bytesReturned) {
  const std::vector<std::uint8_t>& info = unit.extensionInfo;
  const auto size = static_cast<std::uint32_t>(info.size());
  if (data == nullptr || dataLength == 0) {
    bytesReturned = size;
    return kMoreData;
  }
  const std::uint32_t copied = std::min(size, dataLength);
  std::memcpy(data, info.data(), copied);
  bytesReturned = copied;
  return copied == size ? kS_OK : kMoreData;
}

HResult UvcNodeControl::Query(const UvcEntity& unit, std::uint8_t selector, std::uint8_t query,
                              std::uint16_t size, std::uint8_t* data) {
  const int error = m_bound->device->Query(unit.id, selector, query, size, data);
  if (error == 0) return kS_OK;
  if (error == ENOBUFS && query != kUvcGetLen) {
    TellControlSize(unit, selector, size);
  } else if (!IsKnownError(error)) {
    m_bound->diagnostics->Add(m_bound->nodePath + ": " + QueryName(query) + " of unit " +
                              std::to_string(unit.id) + " control " + std::to_string(selector) +
                              " failed: " + std::generic_category().message(error) + " (errno " +
                              std::to_string(error) + ")");
  }
  return QueryErrorResult(error);
}

// uvcvideo refuses a query whose size is not the control's (GET_LEN's
// answer) with ENOBUFS, before anything reaches the device: the control is
// not the one this program speaks, which no retry changes.
void UvcNodeControl::TellControlSize(const UvcEntity& unit, std::uint8_t selector, std::uint16_t size) {
  std::string held = "another size";
  std::array<std::uint8_t, 2> length{};
  if (m_bound->device->Query(unit.id, selector, kUvcGetLen, 2, length.data()) == 0) {
    held = std::to_string(length[0] | (length[1] << 8)) + " bytes";
  }
  m_bound->diagnostics->AddProblem(DeviceProblemKind::ControlSize,
                                   m_bound->nodePath + ": control " + std::to_string(selector) + " of unit " +
                                       std::to_string(unit.id) + " holds " + held + ", not the " +
                                       std::to_string(size) + " bytes of this program's command blocks");
}

}  // namespace nerova::link::linux_stack
