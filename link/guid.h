#pragma once
// GUIDs as the 16 bytes of their standard memory layout (first three fields
// little-endian, last eight bytes as written), which is how the USB
// descriptors and Kernel Streaming carry an extension unit's GUID.
#include <array>
#include <cstdint>

namespace nerova::link {

struct Guid {
  std::array<std::uint8_t, 16> bytes{};

  static constexpr Guid FromFields(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3,
                                   std::array<std::uint8_t, 8> d4) {
    Guid g;
    g.bytes[0] = static_cast<std::uint8_t>(d1);
    g.bytes[1] = static_cast<std::uint8_t>(d1 >> 8);
    g.bytes[2] = static_cast<std::uint8_t>(d1 >> 16);
    g.bytes[3] = static_cast<std::uint8_t>(d1 >> 24);
    g.bytes[4] = static_cast<std::uint8_t>(d2);
    g.bytes[5] = static_cast<std::uint8_t>(d2 >> 8);
    g.bytes[6] = static_cast<std::uint8_t>(d3);
    g.bytes[7] = static_cast<std::uint8_t>(d3 >> 8);
    for (int i = 0; i < 8; ++i) g.bytes[8 + i] = d4[i];
    return g;
  }

  friend constexpr bool operator==(const Guid&, const Guid&) = default;
};

// {2C49D16A-32B8-4485-3EA8-643A152362F2}: the receiver's settings unit.
inline constexpr Guid SettingsUnitGuid =
    Guid::FromFields(0x2C49D16A, 0x32B8, 0x4485, {0x3E, 0xA8, 0x64, 0x3A, 0x15, 0x23, 0x62, 0xF2});
// {23E49ED0-1178-4F31-AE52-D2FB8A8D3B48}: the receiver's probe unit.
inline constexpr Guid ProbeUnitGuid =
    Guid::FromFields(0x23E49ED0, 0x1178, 0x4F31, {0xAE, 0x52, 0xD2, 0xFB, 0x8A, 0x8D, 0x3B, 0x48});

}  // namespace nerova::link
