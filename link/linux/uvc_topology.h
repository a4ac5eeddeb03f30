#pragma once
// The topology of a bound video node: one node per unit or terminal of its
// VideoControl interface, in descriptor order. Extension units are
// KSNODETYPE_DEV_SPECIFIC nodes whose property set is their GUID; their
// properties are the unit-information query (id 0) and the controls (id =
// selector), carried by UVCIOC_CTRL_QUERY. Other nodes refuse every property.
#include <memory>
#include <string>
#include <vector>

#include "link/capture_stack.h"
#include "link/linux/diagnostics.h"
#include "link/linux/uvc_descriptors.h"
#include "link/linux/uvc_device.h"

namespace nerova::link::linux_stack {

// Node types of the other units and terminals (ksmedia.h).
inline constexpr Guid KSNODETYPE_VIDEO_STREAMING = Guid::FromFields(
    0xDFF229E1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
inline constexpr Guid KSNODETYPE_VIDEO_INPUT_TERMINAL = Guid::FromFields(
    0xDFF229E2, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
inline constexpr Guid KSNODETYPE_VIDEO_OUTPUT_TERMINAL = Guid::FromFields(
    0xDFF229E3, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
inline constexpr Guid KSNODETYPE_VIDEO_SELECTOR = Guid::FromFields(
    0xDFF229E4, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
inline constexpr Guid KSNODETYPE_VIDEO_PROCESSING = Guid::FromFields(
    0xDFF229E5, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
inline constexpr Guid KSNODETYPE_VIDEO_CAMERA_TERMINAL = Guid::FromFields(
    0xDFF229E6, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});

Guid NodeTypeOf(const UvcEntity& entity);

// What a bound filter shares with its topologies and node controls, so that
// they stay usable in whatever order they are released.
struct BoundNode {
  std::string nodePath;
  std::unique_ptr<UvcDevice> device;
  std::vector<UvcEntity> entities;
  std::shared_ptr<Diagnostics> diagnostics;
};

class UvcTopology final : public Topology {
 public:
  explicit UvcTopology(std::shared_ptr<BoundNode> bound) : m_bound(std::move(bound)) {}
  HResult GetNumNodes(std::uint32_t& count) override;
  HResult GetNodeType(std::uint32_t node, Guid& type) override;
  HResult CreateNodeControl(std::uint32_t node, std::unique_ptr<NodeControl>& out) override;

 private:
  std::shared_ptr<BoundNode> m_bound;
};

}  // namespace nerova::link::linux_stack
