#pragma once
// The 32-byte KSP_NODE request that carries every property call to a
// topology node: KSPROPERTY { Set (16 bytes), Id, Flags }, then NodeId and
// Reserved, all little-endian as Kernel Streaming lays them out. Built byte
// by byte, so that the bytes that reach IKsControl::KsProperty are exactly
// these; the virtual receiver reads them back.
#include <array>
#include <cstdint>

#include "link/guid.h"

namespace nerova::link::win {

// Property flags. ks.h defines KSPROPERTY_TYPE_GET and friends as macros, so
// these carry names of their own to live beside it in one translation unit.
constexpr std::uint32_t kKsPropertyTypeGet = 0x00000001;       // KSPROPERTY_TYPE_GET
constexpr std::uint32_t kKsPropertyTypeSet = 0x00000002;       // KSPROPERTY_TYPE_SET
constexpr std::uint32_t kKsPropertyTypeBasicSupport = 0x00000200;  // KSPROPERTY_TYPE_BASICSUPPORT
constexpr std::uint32_t kKsPropertyTypeTopology = 0x10000000;  // KSPROPERTY_TYPE_TOPOLOGY

// Property id 0 of an extension unit's set: the unit-information query, whose
// answer begins with the unit's GUID.
constexpr std::uint32_t kUnitInfoProperty = 0;

constexpr std::uint32_t kKsNodeRequestSize = 32;
using KsNodeRequest = std::array<std::uint8_t, kKsNodeRequestSize>;

struct KsNodeFields {
  Guid set;
  std::uint32_t id = 0;
  std::uint32_t flags = 0;
  std::uint32_t nodeId = 0;
  std::uint32_t reserved = 0;
};

KsNodeRequest BuildKsNodeRequest(const Guid& set, std::uint32_t id, std::uint32_t flags,
                                 std::uint32_t nodeId);

// GET or SET of a node's property, always addressed through the topology.
inline KsNodeRequest NodeGetRequest(const Guid& set, std::uint32_t id, std::uint32_t nodeId) {
  return BuildKsNodeRequest(set, id, kKsPropertyTypeGet | kKsPropertyTypeTopology, nodeId);
}
inline KsNodeRequest NodeSetRequest(const Guid& set, std::uint32_t id, std::uint32_t nodeId) {
  return BuildKsNodeRequest(set, id, kKsPropertyTypeSet | kKsPropertyTypeTopology, nodeId);
}

// Reads the fields back out of request bytes (for whoever answers requests:
// the virtual receiver and the tests). False when fewer than 32 bytes.
bool ParseKsNodeRequest(const void* bytes, std::uint32_t length, KsNodeFields& out);

}  // namespace nerova::link::win
