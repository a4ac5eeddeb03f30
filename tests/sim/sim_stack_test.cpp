#include "sim/sim_stack.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

#include "link/ks_request.h"
#include "link/receiver_link.h"
#include "link/receiver_settings.h"
#include "link/utf8_codec.h"
#include "sim/pumps.h"

namespace nerova::sim {
namespace {

using namespace std::chrono_literals;
using link::FilterRef;
using link::HResult;
using link::kS_OK;

// Direct requests to one node of a bound filter, below the link.
struct NodeAccess {
  HResult Property(const link::KsNodeRequest& request, void* data, std::uint32_t length,
                   std::uint32_t& returned) {
    return control->KsProperty(request.data(), 32, data, length, returned);
  }
  std::unique_ptr<link::Topology> topology;
  std::unique_ptr<link::NodeControl> control;
};

class Sim : public ::testing::Test {
 protected:
  FilterRef BindFirst() {
    std::unique_ptr<link::DeviceEnumeration> devices;
    EXPECT_EQ(stack.EnumerateVideoInputs(devices), kS_OK);
    std::unique_ptr<link::DeviceMoniker> moniker;
    EXPECT_EQ(devices->Next(moniker), kS_OK);
    FilterRef filter;
    EXPECT_EQ(moniker->BindToFilter(filter), kS_OK);
    return filter;
  }
  NodeAccess Open(const FilterRef& filter, std::uint32_t node) {
    NodeAccess access;
    EXPECT_EQ(filter->QueryTopology(access.topology), kS_OK);
    EXPECT_EQ(access.topology->CreateNodeControl(node, access.control), kS_OK);
    return access;
  }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  SimStack stack{clock};
};

TEST_F(Sim, TheReceiverLooksLikeAUsbVideoDeviceWithTwoVendorUnits) {
  stack.AddReceiver();
  std::unique_ptr<link::DeviceEnumeration> devices;
  ASSERT_EQ(stack.EnumerateVideoInputs(devices), kS_OK);
  std::unique_ptr<link::DeviceMoniker> moniker;
  ASSERT_EQ(devices->Next(moniker), kS_OK);
  std::wstring name;
  ASSERT_EQ(moniker->GetDisplayName(name), kS_OK);
  EXPECT_NE(name.find(L"vid_1d6b&pid_010c"), std::wstring::npos);
  EXPECT_EQ(name.rfind(L"@device:pnp:\\\\?\\usb#", 0), 0u);
  std::unique_ptr<link::DeviceMoniker> none;
  EXPECT_EQ(devices->Next(none), link::kS_FALSE);

  FilterRef filter;
  ASSERT_EQ(moniker->BindToFilter(filter), kS_OK);
  std::unique_ptr<link::Topology> topology;
  ASSERT_EQ(filter->QueryTopology(topology), kS_OK);
  std::uint32_t count = 0;
  ASSERT_EQ(topology->GetNumNodes(count), kS_OK);
  int units = 0;
  for (std::uint32_t node = 0; node < count; ++node) {
    link::Guid type;
    ASSERT_EQ(topology->GetNodeType(node, type), kS_OK);
    std::unique_ptr<link::NodeControl> control;
    ASSERT_EQ(topology->CreateNodeControl(node, control), kS_OK);
    for (const link::Guid& unit : {link::ProbeUnitGuid, link::SettingsUnitGuid}) {
      std::uint8_t info[32] = {};
      std::uint32_t returned = 0;
      const auto request = link::NodeGetRequest(unit, link::kUnitInfoProperty, node);
      if (control->KsProperty(request.data(), 32, info, 32, returned) == kS_OK) {
        EXPECT_EQ(type, link::KSNODETYPE_DEV_SPECIFIC);
        EXPECT_EQ(std::memcmp(info, unit.bytes.data(), 16), 0);
        ++units;
      } else {
        EXPECT_NE(std::memcmp(info, unit.bytes.data(), 16), 0);
      }
    }
  }
  EXPECT_EQ(units, 2);
  EXPECT_GT(count, 2u);
}

TEST_F(Sim, TheSettingsControlHas60BytesAndChecksItsRequests) {
  stack.AddReceiver();
  FilterRef filter = BindFirst();
  NodeAccess settings = Open(filter, 3);
  std::uint32_t returned = 0;
  EXPECT_EQ(
      settings.Property(link::NodeGetRequest(link::SettingsUnitGuid, 3, 3), nullptr, 0, returned),
      link::kMoreData);
  EXPECT_EQ(returned, 60u);
  std::uint8_t block[60] = {0x66};
  EXPECT_EQ(
      settings.Property(link::NodeSetRequest(link::SettingsUnitGuid, 3, 3), block, 60, returned),
      kS_OK);
  std::uint8_t answer[60] = {};
  EXPECT_EQ(
      settings.Property(link::NodeGetRequest(link::SettingsUnitGuid, 3, 3), answer, 60, returned),
      kS_OK);
  EXPECT_EQ(returned, 60u);
  EXPECT_STREQ(reinterpret_cast<const char*>(answer + 1), "2.4.7");

  // Wrong node id, missing topology flag, another unit's set, another control.
  EXPECT_NE(
      settings.Property(link::NodeGetRequest(link::SettingsUnitGuid, 3, 2), answer, 60, returned),
      kS_OK);
  EXPECT_NE(settings.Property(link::BuildKsNodeRequest(link::SettingsUnitGuid, 3, 1, 3), answer, 60,
                              returned),
            kS_OK);
  EXPECT_EQ(
      settings.Property(link::NodeGetRequest(link::ProbeUnitGuid, 3, 3), answer, 60, returned),
      kSetNotFound);
  EXPECT_EQ(
      settings.Property(link::NodeGetRequest(link::SettingsUnitGuid, 2, 3), answer, 60, returned),
      kNotFound);
  // A short buffer learns the length and is left alone.
  std::uint8_t small[8] = {};
  EXPECT_EQ(
      settings.Property(link::NodeGetRequest(link::SettingsUnitGuid, 3, 3), small, 8, returned),
      link::kMoreData);
  EXPECT_EQ(returned, 60u);
  EXPECT_EQ(small[0], 0);
}

TEST_F(Sim, RssiWandersOverTime) {
  stack.AddReceiver();
  link::ReceiverLink link(stack);
  FakePump pump(*clock);
  link::Utf8Codec codec;
  link::ReceiverSettings settings(link, pump, codec);
  std::set<std::int32_t> seen;
  for (int i = 0; i < 12; ++i) {
    const std::int32_t rssi = settings.ReadRssi();
    EXPECT_LE(rssi, -45);
    EXPECT_GE(rssi, -81);
    seen.insert(rssi);
    clock->Advance(2s);
  }
  // Over a whole swing it passes every signal band.
  EXPECT_GT(seen.size(), 6u);
  EXPECT_LE(*seen.begin(), -71);
  EXPECT_GE(*seen.rbegin(), -50);
}

TEST_F(Sim, ARebootVanishesForItsTimeAndReturnsAsANewDevice) {
  Device receiver = stack.AddReceiver();
  receiver.SetRebootTime(5s);
  std::vector<PresenceEvent> events;
  stack.SetPresenceListener([&](const PresenceEvent& e) { events.push_back(e); });
  link::ReceiverLink link(stack);

  FilterRef old;
  ASSERT_EQ(link.FindReceiverByUsbId(old), kS_OK);
  std::uint8_t block[60] = {0x04};
  std::memcpy(block + 1, "wifiname=Porch", 14);
  ASSERT_EQ(link.SetCur(block, 60, old.Get()), kS_OK);
  block[0] = 0x64;
  std::memset(block + 1, 0, 59);
  ASSERT_EQ(link.SetCur(block, 60, old.Get()), kS_OK);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].change, PresenceChange::Vanished);
  EXPECT_EQ(events[0].reason, PresenceReason::Reboot);

  std::unique_ptr<link::DeviceEnumeration> devices;
  EXPECT_EQ(stack.EnumerateVideoInputs(devices), link::kS_FALSE);
  EXPECT_FALSE(devices);
  EXPECT_NE(link.SetCur(block, 60, old.Get()), kS_OK);
  clock->Advance(4999ms);
  stack.Update();
  EXPECT_FALSE(receiver.IsPresent());
  EXPECT_EQ(events.size(), 1u);

  clock->Advance(1ms);
  stack.Update();
  EXPECT_TRUE(receiver.IsPresent());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].change, PresenceChange::Returned);
  EXPECT_EQ(events[1].reason, PresenceReason::Reboot);
  // The filter from before the restart is dead; a fresh one works and the
  // written name survived.
  block[0] = 0x04;
  EXPECT_EQ(link.SetCur(block, 60, old.Get()), kDeviceNotConnected);
  EXPECT_EQ(receiver.Values().wifiName, "Porch");
  FilterRef fresh;
  ASSERT_EQ(link.FindReceiverByUsbId(fresh), kS_OK);
  EXPECT_EQ(link.SetCur(block, 60, fresh.Get()), kS_OK);
}

TEST_F(Sim, UnplugAndReplugAreTold) {
  Device receiver = stack.AddReceiver();
  std::vector<PresenceEvent> events;
  stack.SetPresenceListener([&](const PresenceEvent& e) {
    events.push_back(e);
    // Listeners run without the lock: they may call back in.
    stack.Transfers();
  });
  receiver.Unplug();
  receiver.Unplug();
  clock->Advance(1h);
  stack.Update();
  EXPECT_FALSE(receiver.IsPresent());
  receiver.Replug();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].change, PresenceChange::Vanished);
  EXPECT_EQ(events[0].reason, PresenceReason::Unplug);
  EXPECT_EQ(events[1].change, PresenceChange::Returned);
  EXPECT_EQ(events[1].device, receiver.Index());
}

TEST_F(Sim, AnUnplugDuringARestartKeepsItAway) {
  Device receiver = stack.AddReceiver();
  receiver.SetRebootTime(1s);
  link::ReceiverLink link(stack);
  std::uint8_t block[60] = {0x64};
  ASSERT_EQ(link.SetCur(block, 60, nullptr), kS_OK);
  receiver.Unplug();
  clock->Advance(2s);
  EXPECT_FALSE(receiver.IsPresent());
  receiver.Replug();
  EXPECT_TRUE(receiver.IsPresent());
}

TEST_F(Sim, FaultsOfEnumerationAndTopology) {
  Device camera = stack.AddCamera();
  Device receiver = stack.AddReceiver();
  link::ReceiverLink link(stack);
  FilterRef filter;

  // A camera without the units listed first does not stop the probe search.
  ASSERT_EQ(link.FindReceiverByProbeUnit(filter), kS_OK);
  filter.Reset();
  receiver.SetNodeOpenResult(1, link::kE_FAIL);
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter), link::kE_FAIL);
  receiver.ClearFaults();
  receiver.SetTopologyAvailable(false);
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter), link::kE_FAIL);
  receiver.ClearFaults();
  receiver.SetBindResult(static_cast<HResult>(0x80070005u));
  EXPECT_EQ(link.FindReceiverByUsbId(filter), static_cast<HResult>(0x80070005u));
  receiver.ClearFaults();
  stack.SetEnumerateResult(kClassNotRegistered);
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter), kClassNotRegistered);
  stack.SetEnumerateResult(kS_OK);

  camera.Unplug();
  receiver.Unplug();
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter), link::kE_FAIL);
  ASSERT_EQ(stack.DebugLines().size(), 1u);
  EXPECT_EQ(stack.DebugLines()[0], L"No video capture device was detected.\r\n\r\n");
  EXPECT_EQ(stack.FilterReferences(), 0);
}

TEST_F(Sim, RefusalsCountDownOrStayPerCommand) {
  Device receiver = stack.AddReceiver();
  link::ReceiverLink link(stack);
  std::uint8_t block[60] = {0x02};
  receiver.RefuseNextSets(2, static_cast<HResult>(0x80070015u));
  EXPECT_EQ(link.SetCur(block, 60, nullptr), static_cast<HResult>(0x80070015u));
  EXPECT_EQ(link.SetCur(block, 60, nullptr), static_cast<HResult>(0x80070015u));
  EXPECT_EQ(link.SetCur(block, 60, nullptr), kS_OK);
  receiver.RefuseSets(0x02);
  EXPECT_EQ(link.SetCur(block, 60, nullptr), kGenFailure);
  block[0] = 0x04;
  EXPECT_EQ(link.SetCur(block, 60, nullptr), kS_OK);
  receiver.RefuseGets(0x04);
  EXPECT_EQ(link.GetCur(block, 60, nullptr), kGenFailure);
  receiver.ClearFaults();
  EXPECT_EQ(link.GetCur(block, 60, nullptr), kS_OK);
  EXPECT_STREQ(reinterpret_cast<const char*>(block + 1), "wifiname=TAVI_5G_3F7A21");
}

TEST_F(Sim, TheLogRecordsEveryRequestInOrderAndKeepsTheNewest) {
  stack.AddReceiver();
  link::ReceiverLink link(stack);
  std::uint8_t block[60] = {0x65};
  ASSERT_EQ(link.SetCur(block, 60, nullptr), kS_OK);
  clock->Advance(250ms);
  ASSERT_EQ(link.GetCur(block, 60, nullptr), kS_OK);
  const auto log = stack.Transfers();
  std::vector<TransferKind> kinds;
  for (const TransferRecord& r : log) kinds.push_back(r.kind);
  EXPECT_EQ(kinds, (std::vector<TransferKind>{TransferKind::UnitInfo, TransferKind::UnitInfo,
                                              TransferKind::Set, TransferKind::UnitInfo,
                                              TransferKind::UnitInfo, TransferKind::SizeQuery,
                                              TransferKind::Get}));
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(log[2].time, 0ms);
  EXPECT_EQ(log[6].time, 250ms);
  EXPECT_EQ(log[6].bytes.size(), 60u);
  EXPECT_EQ(log[6].bytes[0], 0x65);

  stack.SetTransferLogLimit(3);
  const auto kept = stack.Transfers();
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept.back().kind, TransferKind::Get);
  EXPECT_EQ(stack.DataTransfers().size(), 1u);
}

TEST_F(Sim, ATestThreadMayWatchAndMeddleWhileAnotherTalks) {
  Device receiver = stack.AddReceiver();
  stack.SetTransferLogLimit(500);
  std::atomic<bool> done{false};
  std::thread settingsThread([&] {
    link::ReceiverLink link(stack);
    FakePump pump(*clock);
    link::Utf8Codec codec;
    link::ReceiverSettings settings(link, pump, codec);
    for (int i = 0; i < 150; ++i) {
      settings.ReadRssi();
      settings.WriteLongPressTime(i);
    }
    done = true;
  });
  std::size_t seen = 0;
  while (!done) {
    receiver.RefuseNextGets(1);
    seen = std::max(seen, stack.Transfers().size());
    receiver.PinRssi(-50);
    receiver.PinRssi(std::nullopt);
  }
  settingsThread.join();
  EXPECT_EQ(receiver.Values().longPressTime, 149);
  EXPECT_LE(seen, 500u);
  EXPECT_EQ(stack.FilterReferences(), 0);
}

}  // namespace
}  // namespace nerova::sim
