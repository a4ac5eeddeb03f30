#include "sim/sim_stack.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

#include "link/receiver_link.h"
#include "link/receiver_settings.h"
#include "link/utf8_codec.h"
#include "sim/pumps.h"

namespace nerova::sim {
namespace {

using namespace std::chrono_literals;
using link::DeviceRef;
using link::LinkStatus;
using link::StatusKind;
using link::UvcRequest;

class Sim : public ::testing::Test {
 protected:
  DeviceRef OpenFirst() {
    std::unique_ptr<link::VideoInputList> inputs;
    EXPECT_TRUE(stack.ListVideoInputs(inputs).Ok());
    std::unique_ptr<link::VideoInput> input;
    EXPECT_TRUE(inputs->Next(input));
    DeviceRef device;
    EXPECT_TRUE(input->Open(device).Ok());
    return device;
  }
  std::unique_ptr<link::ExtensionUnit> Unit(const DeviceRef& device, const link::Guid& guid) {
    std::unique_ptr<link::ExtensionUnit> unit;
    EXPECT_TRUE(device->FindExtensionUnit(guid, link::UnitSearch::ExtensionUnits, unit).Ok());
    return unit;
  }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  SimStack stack{clock};
};

TEST_F(Sim, TheReceiverLooksLikeAUsbVideoDeviceWithTwoVendorUnits) {
  stack.AddReceiver();
  std::unique_ptr<link::VideoInputList> inputs;
  ASSERT_TRUE(stack.ListVideoInputs(inputs).Ok());
  std::unique_ptr<link::VideoInput> input;
  ASSERT_TRUE(inputs->Next(input));
  link::VideoInputName name;
  ASSERT_TRUE(input->Name(name).Ok());
  EXPECT_NE(name.displayName.find(L"vid_1d6b&pid_010c"), std::wstring::npos);
  EXPECT_EQ(name.displayName.rfind(L"@device:pnp:\\\\?\\usb#", 0), 0u);
  EXPECT_EQ(name.usb, link::kReceiverIdentity);
  std::unique_ptr<link::VideoInput> none;
  EXPECT_FALSE(inputs->Next(none));

  DeviceRef device;
  ASSERT_TRUE(input->Open(device).Ok());
  for (const link::Guid& guid : {link::ProbeUnitGuid, link::SettingsUnitGuid}) {
    for (const link::UnitSearch search : {link::UnitSearch::ExtensionUnits, link::UnitSearch::EveryEntity}) {
      std::unique_ptr<link::ExtensionUnit> unit;
      EXPECT_TRUE(device->FindExtensionUnit(guid, search, unit).Ok());
      EXPECT_TRUE(unit);
    }
  }
  std::unique_ptr<link::ExtensionUnit> other;
  EXPECT_EQ(device->FindExtensionUnit(link::Guid{}, link::UnitSearch::EveryEntity, other).kind,
            StatusKind::NotFound);
  EXPECT_FALSE(other);
}

TEST_F(Sim, TheSettingsControlHas60BytesAndChecksItsRequests) {
  stack.AddReceiver();
  DeviceRef device = OpenFirst();
  std::unique_ptr<link::ExtensionUnit> settings = Unit(device, link::SettingsUnitGuid);
  std::uint32_t returned = 0;
  std::uint8_t length[2] = {};
  EXPECT_TRUE(settings->Query(3, UvcRequest::GetLen, length, 2, returned).Ok());
  EXPECT_EQ(length[0] | length[1] << 8, 60);
  std::uint8_t info = 0;
  EXPECT_TRUE(settings->Query(3, UvcRequest::GetInfo, &info, 1, returned).Ok());
  EXPECT_EQ(info, 0x03);
  std::uint8_t block[60] = {0x66};
  EXPECT_TRUE(settings->Query(3, UvcRequest::SetCur, block, 60, returned).Ok());
  std::uint8_t answer[60] = {};
  EXPECT_TRUE(settings->Query(3, UvcRequest::GetCur, answer, 60, returned).Ok());
  EXPECT_EQ(returned, 60u);
  EXPECT_STREQ(reinterpret_cast<const char*>(answer + 1), "2.4.7");

  // Another control, the probe unit's controls, a short buffer.
  EXPECT_EQ(settings->Query(2, UvcRequest::GetCur, answer, 60, returned), kNotFound);
  EXPECT_EQ(Unit(device, link::ProbeUnitGuid)->Query(3, UvcRequest::GetCur, answer, 60, returned), kNotFound);
  std::uint8_t small[8] = {};
  EXPECT_EQ(settings->Query(3, UvcRequest::GetCur, small, 8, returned), kMoreData);
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(settings->Query(3, UvcRequest::SetCur, block, 8, returned), kInsufficientBuffer);
}

TEST_F(Sim, RssiWandersOverTime) {
  stack.AddReceiver();
  link::ReceiverLink link(stack);
  FakePump pump(*clock);
  link::Utf8Codec codec;
  link::ReceiverSettings settings(link, pump, codec);
  std::set<std::int32_t> seen;
  for (int i = 0; i < 12; ++i) {
    const std::int32_t rssi = settings.ReadRssi(link::ReceiverTurn(settings, link::TurnWait::Bounded));
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

  DeviceRef old;
  ASSERT_TRUE(link.FindReceiverByUsbId(old).Ok());
  std::uint8_t block[60] = {0x04};
  std::memcpy(block + 1, "wifiname=Porch", 14);
  ASSERT_TRUE(link.SetCur(block, 60, old).Ok());
  block[0] = 0x64;
  std::memset(block + 1, 0, 59);
  ASSERT_TRUE(link.SetCur(block, 60, old).Ok());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].change, PresenceChange::Vanished);
  EXPECT_EQ(events[0].reason, PresenceReason::Reboot);

  std::unique_ptr<link::VideoInputList> inputs;
  EXPECT_TRUE(stack.ListVideoInputs(inputs).Ok());
  std::unique_ptr<link::VideoInput> none;
  EXPECT_FALSE(inputs->Next(none));
  EXPECT_FALSE(link.SetCur(block, 60, old).Ok());
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
  EXPECT_EQ(link.SetCur(block, 60, old), kDeviceNotConnected);
  EXPECT_EQ(receiver.Values().wifiName, "Porch");
  DeviceRef fresh;
  ASSERT_TRUE(link.FindReceiverByUsbId(fresh).Ok());
  EXPECT_TRUE(link.SetCur(block, 60, fresh).Ok());
}

TEST_F(Sim, AnUnacknowledgedRestartAndALeaveBetweenARequestAndItsAnswer) {
  Device receiver = stack.AddReceiver();
  receiver.SetRebootTime(1s);
  receiver.SetRestartUnacknowledged(true);
  receiver.LeaveAfterNextReadRequest(true);
  link::ReceiverLink link(stack);

  // A write is no read request: the receiver stays.
  std::uint8_t block[60] = {0x04};
  std::memcpy(block + 1, "wifiname=Porch", 14);
  ASSERT_TRUE(link.SetCur(block, 60, nullptr).Ok());
  // The read request goes through, its answer finds the device gone.
  std::memset(block + 1, 0, 59);
  DeviceRef device;
  ASSERT_TRUE(link.FindReceiverByUsbId(device).Ok());
  ASSERT_TRUE(link.SetCur(block, 60, device).Ok());
  EXPECT_FALSE(receiver.LeavesAfterNextReadRequest());
  std::uint8_t answer[60] = {};
  EXPECT_EQ(link.GetCur(answer, 60, device), kDeviceNotConnected);
  EXPECT_FALSE(receiver.IsPresent());
  clock->Advance(1s);
  stack.Update();
  ASSERT_TRUE(receiver.IsPresent());
  // Once only: the next request is answered.
  ASSERT_TRUE(link.FindReceiverByUsbId(device).Ok());
  ASSERT_TRUE(link.SetCur(block, 60, device).Ok());
  ASSERT_TRUE(link.GetCur(answer, 60, device).Ok());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(answer + 1)), "wifiname=Porch");

  // The restart command fails and the receiver restarts all the same.
  block[0] = 0x64;
  EXPECT_EQ(link.SetCur(block, 60, device), kGenFailure);
  EXPECT_FALSE(receiver.IsPresent());
  clock->Advance(1s);
  stack.Update();
  EXPECT_TRUE(receiver.IsPresent());
  EXPECT_EQ(receiver.Values().wifiName, "Porch");
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
  ASSERT_TRUE(link.SetCur(block, 60, nullptr).Ok());
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
  DeviceRef filter;

  // A camera without the units listed first does not stop the probe search.
  ASSERT_TRUE(link.FindReceiverByProbeUnit(filter).Ok());
  filter.reset();
  receiver.SetNodeOpenResult(1, kGenFailure);
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter).kind, StatusKind::NotFound);
  receiver.ClearFaults();
  receiver.SetTopologyAvailable(false);
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter).kind, StatusKind::NotFound);
  receiver.ClearFaults();
  receiver.SetBindResult(kAccessDenied);
  EXPECT_EQ(link.FindReceiverByUsbId(filter), kAccessDenied);
  receiver.ClearFaults();
  stack.SetEnumerateResult(kClassNotRegistered);
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter), kClassNotRegistered);
  stack.SetEnumerateResult(LinkStatus::Success());

  camera.Unplug();
  receiver.Unplug();
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter).kind, StatusKind::NotFound);
  ASSERT_EQ(stack.DebugLines().size(), 1u);
  EXPECT_EQ(stack.DebugLines()[0], L"No video capture device was detected.\r\n\r\n");
  EXPECT_EQ(stack.OpenDevices(), 0);
}

TEST_F(Sim, RefusalsCountDownOrStayPerCommand) {
  Device receiver = stack.AddReceiver();
  link::ReceiverLink link(stack);
  std::uint8_t block[60] = {0x02};
  const LinkStatus notReady = LinkStatus::Of(StatusKind::Failed, static_cast<std::int32_t>(0x80070015u));
  receiver.RefuseNextSets(2, notReady);
  EXPECT_EQ(link.SetCur(block, 60, nullptr), notReady);
  EXPECT_EQ(link.SetCur(block, 60, nullptr), notReady);
  EXPECT_TRUE(link.SetCur(block, 60, nullptr).Ok());
  receiver.RefuseSets(0x02);
  EXPECT_EQ(link.SetCur(block, 60, nullptr), kGenFailure);
  block[0] = 0x04;
  EXPECT_TRUE(link.SetCur(block, 60, nullptr).Ok());
  receiver.RefuseGets(0x04);
  EXPECT_EQ(link.GetCur(block, 60, nullptr), kGenFailure);
  receiver.ClearFaults();
  EXPECT_TRUE(link.GetCur(block, 60, nullptr).Ok());
  EXPECT_STREQ(reinterpret_cast<const char*>(block + 1), "wifiname=TAVI_5G_3F7A21");
}

TEST_F(Sim, TheLogRecordsEveryRequestInOrderAndKeepsTheNewest) {
  stack.AddReceiver();
  link::ReceiverLink link(stack);
  std::uint8_t block[60] = {0x65};
  ASSERT_TRUE(link.SetCur(block, 60, nullptr).Ok());
  clock->Advance(250ms);
  ASSERT_TRUE(link.GetCur(block, 60, nullptr).Ok());
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
      settings.ReadRssi(link::ReceiverTurn(settings, link::TurnWait::Bounded));
      settings.WriteLongPressTime(link::ReceiverTurn(settings, link::TurnWait::Bounded), i);
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
  EXPECT_EQ(stack.OpenDevices(), 0);
}

}  // namespace
}  // namespace nerova::sim
