#include "link/win/ks_request.h"

#include <cstring>

namespace nerova::link::win {
namespace {

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value >> 16);
  at[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t GetLe32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace

KsNodeRequest BuildKsNodeRequest(const Guid& set, std::uint32_t id, std::uint32_t flags,
                                 std::uint32_t nodeId) {
  KsNodeRequest request{};
  std::memcpy(request.data(), set.bytes.data(), set.bytes.size());
  PutLe32(request.data() + 16, id);
  PutLe32(request.data() + 20, flags);
  PutLe32(request.data() + 24, nodeId);
  PutLe32(request.data() + 28, 0);
  return request;
}

bool ParseKsNodeRequest(const void* bytes, std::uint32_t length, KsNodeFields& out) {
  if (bytes == nullptr || length < kKsNodeRequestSize) return false;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  std::memcpy(out.set.bytes.data(), p, out.set.bytes.size());
  out.id = GetLe32(p + 16);
  out.flags = GetLe32(p + 20);
  out.nodeId = GetLe32(p + 24);
  out.reserved = GetLe32(p + 28);
  return true;
}

}  // namespace nerova::link::win
