#pragma once
// Property requests to the nodes of a bound video node, as the Windows
// video-class driver answers them. The request's NodeId picks the node.
//   id 0, GET: the extension unit's descriptor from its GUID on (ERROR_MORE_DATA
//     and the length without a buffer, or with one too short for it, which
//     then holds the beginning).
//   id N, GET without a buffer: UVC_GET_LEN; ERROR_MORE_DATA and the length.
//   id N, GET with a buffer: UVC_GET_CUR of the buffer's length.
//   id N, SET: UVC_SET_CUR of the data's length.
// Kernel failures come back translated (errno_result.h); a query refused
// for its size is also told as the node's problem.
#include <memory>

#include "link/capture_stack.h"
#include "link/linux/uvc_topology.h"

namespace nerova::link::linux_stack {

class UvcNodeControl final : public NodeControl {
 public:
  explicit UvcNodeControl(std::shared_ptr<BoundNode> bound) : m_bound(std::move(bound)) {}
  HResult KsProperty(const void* property, std::uint32_t propertyLength, void* data,
                     std::uint32_t dataLength, std::uint32_t& bytesReturned) override;

 private:
  HResult UnitInformation(const UvcEntity& unit, void* data, std::uint32_t dataLength,
                          std::uint32_t& bytesReturned);
  HResult Query(const UvcEntity& unit, std::uint8_t selector, std::uint8_t query,
                std::uint16_t size, std::uint8_t* data);
  void TellControlSize(const UvcEntity& unit, std::uint8_t selector, std::uint16_t size);

  std::shared_ptr<BoundNode> m_bound;
};

}  // namespace nerova::link::linux_stack
