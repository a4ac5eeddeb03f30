#include <gtest/gtest.h>

#include "link/guid.h"

namespace nerova::link {
namespace {

TEST(Guid, UnitGuidsHaveTheByteLayoutTheReceiverCompares) {
  const std::array<std::uint8_t, 16> settings = {0x6A, 0xD1, 0x49, 0x2C, 0xB8, 0x32, 0x85, 0x44,
                                                 0x3E, 0xA8, 0x64, 0x3A, 0x15, 0x23, 0x62, 0xF2};
  const std::array<std::uint8_t, 16> probe = {0xD0, 0x9E, 0xE4, 0x23, 0x78, 0x11, 0x31, 0x4F,
                                              0xAE, 0x52, 0xD2, 0xFB, 0x8A, 0x8D, 0x3B, 0x48};
  EXPECT_EQ(SettingsUnitGuid.bytes, settings);
  EXPECT_EQ(ProbeUnitGuid.bytes, probe);
  EXPECT_NE(SettingsUnitGuid, ProbeUnitGuid);
}

}  // namespace
}  // namespace nerova::link
