#include "link/linux/uvc_topology.h"

#include "link/linux/uvc_node_control.h"

namespace nerova::link::linux_stack {
namespace {

constexpr std::uint16_t kStreamingTerminal = 0x0101;  // TT_STREAMING
constexpr std::uint16_t kCameraTerminal = 0x0201;     // ITT_CAMERA

}  // namespace

Guid NodeTypeOf(const UvcEntity& entity) {
  switch (entity.kind) {
    case UvcEntityKind::InputTerminal:
      return entity.terminalType == kCameraTerminal ? KSNODETYPE_VIDEO_CAMERA_TERMINAL
                                                    : KSNODETYPE_VIDEO_INPUT_TERMINAL;
    case UvcEntityKind::OutputTerminal:
      return entity.terminalType == kStreamingTerminal ? KSNODETYPE_VIDEO_STREAMING
                                                       : KSNODETYPE_VIDEO_OUTPUT_TERMINAL;
    case UvcEntityKind::SelectorUnit:
      return KSNODETYPE_VIDEO_SELECTOR;
    case UvcEntityKind::ProcessingUnit:
      return KSNODETYPE_VIDEO_PROCESSING;
    case UvcEntityKind::ExtensionUnit:
      return KSNODETYPE_DEV_SPECIFIC;
  }
  return KSNODETYPE_DEV_SPECIFIC;
}

HResult UvcTopology::GetNumNodes(std::uint32_t& count) {
  count = static_cast<std::uint32_t>(m_bound->entities.size());
  return kS_OK;
}

HResult UvcTopology::GetNodeType(std::uint32_t node, Guid& type) {
  if (node >= m_bound->entities.size()) return kE_INVALIDARG;
  type = NodeTypeOf(m_bound->entities[node]);
  return kS_OK;
}

HResult UvcTopology::CreateNodeControl(std::uint32_t node, std::unique_ptr<NodeControl>& out) {
  out.reset();
  if (node >= m_bound->entities.size()) return kE_INVALIDARG;
  out = std::make_unique<UvcNodeControl>(m_bound);
  return kS_OK;
}

}  // namespace nerova::link::linux_stack
