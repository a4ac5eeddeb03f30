#include "link/win/ks_request.h"

#include <gtest/gtest.h>

namespace nerova::link::win {
namespace {

TEST(KsRequest, SettingsControlRequestsHaveTheKernelStreamingLayout) {
  const KsNodeRequest get = NodeGetRequest(SettingsUnitGuid, 3, 7);
  const KsNodeRequest expectedGet = {0x6A, 0xD1, 0x49, 0x2C, 0xB8, 0x32, 0x85,
                                     0x44, 0x3E, 0xA8, 0x64, 0x3A, 0x15, 0x23,
                                     0x62, 0xF2, 0x03, 0x00, 0x00, 0x00,  // Id
                                     0x01, 0x00, 0x00, 0x10,              // Flags: GET | TOPOLOGY
                                     0x07, 0x00, 0x00, 0x00,              // NodeId
                                     0x00, 0x00, 0x00, 0x00};             // Reserved
  EXPECT_EQ(get, expectedGet);

  const KsNodeRequest set = NodeSetRequest(ProbeUnitGuid, 0, 0x01020304);
  EXPECT_EQ(set[0], 0xD0);
  EXPECT_EQ(set[15], 0x48);
  EXPECT_EQ(set[20], 0x02);
  EXPECT_EQ(set[23], 0x10);
  EXPECT_EQ(set[24], 0x04);
  EXPECT_EQ(set[27], 0x01);
}

TEST(KsRequest, ParsesWhatItBuildsAndRejectsShortRequests) {
  const KsNodeRequest request = BuildKsNodeRequest(ProbeUnitGuid, 0x11223344, 0x10000001, 9);
  KsNodeFields fields;
  ASSERT_TRUE(ParseKsNodeRequest(request.data(), kKsNodeRequestSize, fields));
  EXPECT_EQ(fields.set, ProbeUnitGuid);
  EXPECT_EQ(fields.id, 0x11223344u);
  EXPECT_EQ(fields.flags, kKsPropertyTypeGet | kKsPropertyTypeTopology);
  EXPECT_EQ(fields.nodeId, 9u);
  EXPECT_EQ(fields.reserved, 0u);
  EXPECT_FALSE(ParseKsNodeRequest(request.data(), 31, fields));
  EXPECT_FALSE(ParseKsNodeRequest(nullptr, 32, fields));
}

}  // namespace
}  // namespace nerova::link::win
