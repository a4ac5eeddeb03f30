#pragma once
// GUIDs as the 16 bytes of their standard memory layout (first three fields
// little-endian, last eight bytes as written), which is how they travel in
// Kernel Streaming requests and how the receiver's answers are compared.
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

// {62BE5D10-60EB-11D0-BD3B-00A0C911CE86}
inline constexpr Guid CLSID_SystemDeviceEnum =
    Guid::FromFields(0x62BE5D10, 0x60EB, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86});
// {29840822-5B84-11D0-BD3B-00A0C911CE86}
inline constexpr Guid IID_ICreateDevEnum =
    Guid::FromFields(0x29840822, 0x5B84, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86});
// {860BB310-5D01-11D0-BD3B-00A0C911CE86}
inline constexpr Guid CLSID_VideoInputDeviceCategory =
    Guid::FromFields(0x860BB310, 0x5D01, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86});
// {56A86895-0AD4-11CE-B03A-0020AF0BA770}
inline constexpr Guid IID_IBaseFilter =
    Guid::FromFields(0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70});
// {720D4AC0-7533-11D0-A5D6-28DB04C10000}
inline constexpr Guid IID_IKsTopologyInfo =
    Guid::FromFields(0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00});
// {28F54685-06FD-11D2-B27A-00A0C9223196}
inline constexpr Guid IID_IKsControl =
    Guid::FromFields(0x28F54685, 0x06FD, 0x11D2, {0xB2, 0x7A, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
// {941C7AC0-C559-11D0-8A2B-00A0C9255AC1}: node type of a USB Video Class extension unit.
inline constexpr Guid KSNODETYPE_DEV_SPECIFIC =
    Guid::FromFields(0x941C7AC0, 0xC559, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1});
// {2C49D16A-32B8-4485-3EA8-643A152362F2}: the receiver's settings unit.
inline constexpr Guid SettingsUnitGuid =
    Guid::FromFields(0x2C49D16A, 0x32B8, 0x4485, {0x3E, 0xA8, 0x64, 0x3A, 0x15, 0x23, 0x62, 0xF2});
// {23E49ED0-1178-4F31-AE52-D2FB8A8D3B48}: the receiver's probe unit.
inline constexpr Guid ProbeUnitGuid =
    Guid::FromFields(0x23E49ED0, 0x1178, 0x4F31, {0xAE, 0x52, 0xD2, 0xFB, 0x8A, 0x8D, 0x3B, 0x48});

}  // namespace nerova::link
