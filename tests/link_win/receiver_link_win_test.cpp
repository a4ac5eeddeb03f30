// ReceiverLink over the DirectShow capture stack, the walk of the receiver
// link as Windows makes it: against COM stand-ins (the exact requests that
// reach IKsControl::KsProperty, in their order, and every reference given
// back after each operation) and against Wine's own device enumerator, which
// lists no video devices.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/win/ks_request.h"
#include "link/receiver_link.h"
#include "link/win/directshow_capture_stack.h"
#include "tests/link_win/com_apartment.h"
#include "tests/link_win/fake_com.h"

namespace nerova::link::win {
namespace {

using testing::ComApartment;
using testing::FakeControl;
using testing::FakeDevice;
using testing::FakeSystem;
using testing::KsCall;
using testing::TaskMemoryWatch;

const Guid kCameraTerminal = Guid::FromFields(0xDFF229E1, 0xF70F, 0x11D0,
                                              {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
const Guid kProcessingUnit = Guid::FromFields(0xDFF229E2, 0xF70F, 0x11D0,
                                              {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
const std::wstring kReceiverName =
    L"@device:pnp:\\\\?\\usb#vid_1d6b&pid_010c&mi_00#7&2f1c&0&0000#{65e8773d-8f56-11d0-a3b9-"
    L"00a0c9223196}\\global";
const std::wstring kWebcamName =
    L"@device:pnp:\\\\?\\usb#vid_046d&pid_0825&mi_00#6&1a2b&0&0000#{65e8773d-8f56-11d0-a3b9-"
    L"00a0c9223196}\\global";

constexpr std::uint32_t kGetFlags = 0x10000001;
constexpr std::uint32_t kSetFlags = 0x10000002;

// The request bytes a call carried, compared field by field with what they
// must be, so a failure names the field.
void ExpectRequest(const KsCall& call, const Guid& set, std::uint32_t id, std::uint32_t flags,
                   std::uint32_t node) {
  EXPECT_EQ(call.propertyLength, 32u);
  ASSERT_EQ(call.property.size(), 32u);
  EXPECT_EQ(call.Set(), set);
  EXPECT_EQ(call.Id(), id);
  EXPECT_EQ(call.Flags(), flags);
  EXPECT_EQ(call.NodeId(), node);
  EXPECT_EQ(call.Reserved(), 0u);
  const KsNodeRequest expected = BuildKsNodeRequest(set, id, flags, node);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), call.property.begin()));
}

class ReceiverLinkOverDirectShow : public ::testing::Test {
 protected:
  // A receiver as the video-class driver shows it: camera terminal,
  // processing unit, then the probe unit and the settings unit (nodes 2, 3).
  FakeDevice& AddReceiver(const std::string& name, const std::wstring& displayName = kReceiverName,
                          std::size_t controlLength = 60) {
    FakeDevice& d = system.AddDevice(name, displayName);
    d.AddOrdinaryNode(system.ledger, name + ".terminal", kCameraTerminal);
    d.AddOrdinaryNode(system.ledger, name + ".processing", kProcessingUnit);
    d.AddUnit(system.ledger, name + ".probe", ProbeUnitGuid, 4);
    d.AddUnit(system.ledger, name + ".settings", SettingsUnitGuid, controlLength);
    return d;
  }
  FakeDevice& AddWebcam(const std::string& name) {
    FakeDevice& d = system.AddDevice(name, kWebcamName);
    d.AddOrdinaryNode(system.ledger, name + ".terminal", kCameraTerminal);
    d.AddUnit(system.ledger, name + ".xu", Guid::FromFields(1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}));
    return d;
  }
  static FakeControl& Probe(FakeDevice& d) { return *d.controls[2]; }
  static FakeControl& Settings(FakeDevice& d) { return *d.controls[3]; }
  std::string Unbalanced() const { return system.ledger.Unbalanced(); }

  ComApartment apartment;
  FakeSystem system;
  DirectShowCaptureStack stack{[this](ICreateDevEnum** out) { return system.Create(out); },
                               [this](const wchar_t* text) { system.debugLines.emplace_back(text); }};
  ReceiverLink link{stack};
};

TEST_F(ReceiverLinkOverDirectShow, UsbIdSearchSkipsUnnamedDevicesFreesNamesAndHandsOutOneReference) {
  FakeDevice& webcam = AddWebcam("webcam");
  FakeDevice& nameless = AddReceiver("nameless");
  nameless.moniker.displayNameResult = E_OUTOFMEMORY;
  FakeDevice& receiver = AddReceiver("rx");
  AddReceiver("second");

  TaskMemoryWatch spy;
  ASSERT_TRUE(spy.Active());
  DeviceRef filter;
  ASSERT_TRUE(link.FindReceiverByUsbId(filter).Ok());
  ASSERT_TRUE(filter);

  // Only the receiver was bound, and only its filter is still held, once.
  EXPECT_TRUE(webcam.moniker.boundFor.empty());
  EXPECT_TRUE(nameless.moniker.boundFor.empty());
  ASSERT_EQ(receiver.moniker.boundFor.size(), 1u);
  EXPECT_EQ(FromWinGuid(receiver.moniker.boundFor[0]), IID_IBaseFilter);
  EXPECT_EQ(Unbalanced(), "rx.filter=2 ");
  // Each name examined went back through the task allocator.
  for (void* name : webcam.moniker.namesHandedOut) EXPECT_TRUE(spy.WasFreed(name));
  ASSERT_EQ(receiver.moniker.namesHandedOut.size(), 1u);
  EXPECT_TRUE(spy.WasFreed(receiver.moniker.namesHandedOut[0]));
  // The enumerator was asked for one moniker at a time, up to the receiver's.
  EXPECT_EQ(system.monikers.asked, (std::vector<ULONG>{1, 1, 1}));

  filter.reset();
  EXPECT_EQ(Unbalanced(), "");
}

TEST_F(ReceiverLinkOverDirectShow, UsbIdSearchReturnsTheBindFailureOfTheFirstMatch) {
  AddReceiver("rx").moniker.bindResult = E_ACCESSDENIED;
  FakeDevice& second = AddReceiver("second");
  DeviceRef filter;
  EXPECT_EQ(link.FindReceiverByUsbId(filter), LinkStatus::Of(StatusKind::AccessDenied, E_ACCESSDENIED));
  EXPECT_FALSE(filter);
  EXPECT_TRUE(second.moniker.boundFor.empty());
  EXPECT_EQ(Unbalanced(), "");
}

TEST_F(ReceiverLinkOverDirectShow, ProbeSearchAsksEveryNodeWithExactRequests) {
  FakeDevice& webcam = AddWebcam("webcam");
  FakeDevice& receiver = AddReceiver("rx", L"a name without the identity");
  DeviceRef filter;
  ASSERT_TRUE(link.FindReceiverByProbeUnit(filter).Ok());
  ASSERT_TRUE(filter);
  EXPECT_EQ(Unbalanced(), "rx.filter=2 ");

  // The webcam's nodes and the receiver's first three, in order, whatever
  // their type; the settings node after the probe node is never asked.
  for (std::size_t i = 0; i < webcam.controls.size(); ++i) {
    ASSERT_EQ(webcam.controls[i]->calls.size(), 1u) << "webcam node " << i;
    ExpectRequest(webcam.controls[i]->calls[0], ProbeUnitGuid, 0, kGetFlags,
                  static_cast<std::uint32_t>(i));
  }
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(receiver.controls[i]->calls.size(), 1u) << "receiver node " << i;
    const KsCall& call = receiver.controls[i]->calls[0];
    ExpectRequest(call, ProbeUnitGuid, 0, kGetFlags, static_cast<std::uint32_t>(i));
    EXPECT_FALSE(call.dataNull);
    EXPECT_EQ(call.dataLength, 32u);
    // Zeroed first, so a node that answers nothing cannot pass for the unit.
    ASSERT_EQ(call.dataIn.size(), 32u);
    EXPECT_TRUE(std::all_of(call.dataIn.begin(), call.dataIn.begin() + 16,
                            [](std::uint8_t b) { return b == 0; }));
  }
  EXPECT_TRUE(Settings(receiver).calls.empty());
  for (const IID& iid : receiver.topology.createdFor) EXPECT_EQ(FromWinGuid(iid), IID_IKsControl);

  filter.reset();
  EXPECT_EQ(Unbalanced(), "");
}

TEST_F(ReceiverLinkOverDirectShow, ProbeSearchSkipsADeviceWithANodeThatWillNotOpen) {
  FakeDevice& broken = system.AddDevice("broken", kReceiverName);
  broken.AddUnopenableNode(kCameraTerminal, E_ACCESSDENIED);
  broken.AddUnit(system.ledger, "broken.probe", ProbeUnitGuid, 4);
  DeviceRef filter;
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter).kind, StatusKind::NotFound);
  EXPECT_FALSE(filter);
  EXPECT_TRUE(broken.controls[0]->calls.empty());
  EXPECT_EQ(Unbalanced(), "");
}

TEST_F(ReceiverLinkOverDirectShow, EmptyCategoryAndEnumeratorFailuresLeaveNothingHeld) {
  system.devEnum.result = S_FALSE;
  DeviceRef filter;
  EXPECT_EQ(link.FindReceiverByUsbId(filter).kind, StatusKind::NotFound);
  EXPECT_TRUE(system.debugLines.empty());
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter).kind, StatusKind::NotFound);
  EXPECT_EQ(system.debugLines, (std::vector<std::wstring>{L"No video capture device was detected.\r\n\r\n"}));

  system.createResult = REGDB_E_CLASSNOTREG;
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter).code, REGDB_E_CLASSNOTREG);
  system.createResult = S_OK;
  system.devEnum.result = E_OUTOFMEMORY;
  std::uint8_t block[60] = {};
  EXPECT_EQ(link.SetCur(block, 60, nullptr).code, E_OUTOFMEMORY);
  EXPECT_FALSE(filter);
  EXPECT_EQ(Unbalanced(), "");
}

TEST_F(ReceiverLinkOverDirectShow, SetCurSendsTheBlockToTheSettingsNodeHoldingItsOwnReference) {
  FakeDevice& receiver = AddReceiver("rx");
  DeviceRef filter;
  ASSERT_TRUE(link.FindReceiverByUsbId(filter).Ok());
  std::vector<LONG> refsDuringCalls;
  Settings(receiver).onProperty = [&] { refsDuringCalls.push_back(receiver.filter.Refs()); };

  std::uint8_t block[60];
  for (int i = 0; i < 60; ++i) block[i] = static_cast<std::uint8_t>(0xA0 + i);
  ASSERT_TRUE(link.SetCur(block, 60, filter).Ok());

  // The probe node (also an extension unit) was asked and passed over; the
  // settings node got the information query and then the SET.
  ASSERT_EQ(Probe(receiver).calls.size(), 1u);
  ExpectRequest(Probe(receiver).calls[0], SettingsUnitGuid, 0, kGetFlags, 2);
  const auto& calls = Settings(receiver).calls;
  ASSERT_EQ(calls.size(), 2u);
  ExpectRequest(calls[0], SettingsUnitGuid, 0, kGetFlags, 3);
  ExpectRequest(calls[1], SettingsUnitGuid, 3, kSetFlags, 3);
  EXPECT_EQ(calls[1].dataLength, 60u);
  EXPECT_EQ(calls[1].dataIn, std::vector<std::uint8_t>(block, block + 60));
  // Terminal and processing unit are not opened at all.
  EXPECT_EQ(receiver.topology.createdFor.size(), 2u);

  // test + caller + the transfer's own reference, while it ran.
  EXPECT_EQ(refsDuringCalls, (std::vector<LONG>{3, 3}));
  EXPECT_EQ(Unbalanced(), "rx.filter=2 ");
  filter.reset();
  EXPECT_EQ(Unbalanced(), "");
}

TEST_F(ReceiverLinkOverDirectShow, GetCurAsksTheSizeThenReadsExactlyTheControlLength) {
  FakeDevice& receiver = AddReceiver("rx");
  FakeControl& settings = Settings(receiver);
  for (std::size_t i = 0; i < settings.value.size(); ++i) settings.value[i] = static_cast<std::uint8_t>(i * 3);
  DeviceRef filter;
  ASSERT_TRUE(link.FindReceiverByUsbId(filter).Ok());

  std::uint8_t buffer[60] = {};
  ASSERT_TRUE(link.GetCur(buffer, 60, filter).Ok());
  EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 60), settings.value);

  const auto& calls = settings.calls;
  ASSERT_EQ(calls.size(), 3u);
  ExpectRequest(calls[0], SettingsUnitGuid, 0, kGetFlags, 3);
  ExpectRequest(calls[1], SettingsUnitGuid, 3, kGetFlags, 3);
  EXPECT_TRUE(calls[1].dataNull);
  EXPECT_EQ(calls[1].dataLength, 0u);
  ExpectRequest(calls[2], SettingsUnitGuid, 3, kGetFlags, 3);
  EXPECT_FALSE(calls[2].dataNull);
  EXPECT_EQ(calls[2].dataLength, 60u);

  filter.reset();
  EXPECT_EQ(Unbalanced(), "");
}

TEST_F(ReceiverLinkOverDirectShow, GetCurLeavesBytesBeyondAShortControlAndRefusesALongOne) {
  FakeDevice& shortRx = AddReceiver("short", kReceiverName, 32);
  std::fill(Settings(shortRx).value.begin(), Settings(shortRx).value.end(), std::uint8_t{0x11});
  std::uint8_t buffer[60];
  std::fill(std::begin(buffer), std::end(buffer), std::uint8_t{0xEE});
  {
    DeviceRef filter;
    ASSERT_TRUE(link.FindReceiverByUsbId(filter).Ok());
    ASSERT_TRUE(link.GetCur(buffer, 60, filter).Ok());
  }
  EXPECT_TRUE(std::all_of(buffer, buffer + 32, [](std::uint8_t b) { return b == 0x11; }));
  EXPECT_TRUE(std::all_of(buffer + 32, buffer + 60, [](std::uint8_t b) { return b == 0xEE; }));
  EXPECT_EQ(Settings(shortRx).calls.back().dataLength, 32u);

  // A 64-byte control does not fit 60 bytes: no read is made.
  Settings(shortRx).value.assign(64, 0x22);
  std::fill(std::begin(buffer), std::end(buffer), std::uint8_t{0xEE});
  Settings(shortRx).calls.clear();
  EXPECT_EQ(link.GetCur(buffer, 60, nullptr).kind, StatusKind::WrongLength);
  EXPECT_EQ(Settings(shortRx).calls.size(), 2u);
  EXPECT_TRUE(std::all_of(buffer, buffer + 60, [](std::uint8_t b) { return b == 0xEE; }));
  EXPECT_EQ(Unbalanced(), "");
}

TEST_F(ReceiverLinkOverDirectShow, NullFilterFindsTheReceiverForOneTransferOnly) {
  FakeDevice& receiver = AddReceiver("rx");
  std::uint8_t block[60] = {0x65};
  ASSERT_TRUE(link.SetCur(block, 60, nullptr).Ok());
  std::uint8_t answer[60] = {};
  ASSERT_TRUE(link.GetCur(answer, 60, nullptr).Ok());
  EXPECT_EQ(answer[0], 0x65);
  EXPECT_EQ(receiver.moniker.boundFor.size(), 2u);
  EXPECT_EQ(Unbalanced(), "");
}

TEST_F(ReceiverLinkOverDirectShow, RefusedTransfersComeBackWithTheirResultAndNothingHeld) {
  FakeDevice& receiver = AddReceiver("rx");
  DeviceRef filter;
  ASSERT_TRUE(link.FindReceiverByUsbId(filter).Ok());
  std::uint8_t block[60] = {};

  Settings(receiver).setResult = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
  EXPECT_EQ(link.SetCur(block, 60, filter), LinkStatus::Of(StatusKind::Refused, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)));
  Settings(receiver).readResult = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
  EXPECT_EQ(link.GetCur(block, 60, filter), LinkStatus::Of(StatusKind::Refused, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)));
  Settings(receiver).readResult = S_OK;
  Settings(receiver).answerLength = 59;
  EXPECT_EQ(link.GetCur(block, 60, filter).kind, StatusKind::Failed);

  // A settings-unit node whose control cannot be created ends the walk.
  receiver.topology.nodes[3] = {KSNODETYPE_DEV_SPECIFIC, nullptr, E_ACCESSDENIED};
  EXPECT_EQ(link.SetCur(block, 60, filter), LinkStatus::Of(StatusKind::AccessDenied, E_ACCESSDENIED));

  EXPECT_EQ(Unbalanced(), "rx.filter=2 ");
  filter.reset();
  EXPECT_EQ(Unbalanced(), "");
}

TEST_F(ReceiverLinkOverDirectShow, OnlyTheUnitsAnswerCountsAndASizeQueryThatSucceedsIsBelieved) {
  FakeDevice& receiver = AddReceiver("rx");
  // The unit-information query fails but answers with the unit's GUID.
  Probe(receiver).infoResult = E_FAIL;
  Settings(receiver).infoResult = E_FAIL;
  DeviceRef filter;
  ASSERT_TRUE(link.FindReceiverByProbeUnit(filter).Ok());
  Settings(receiver).sizeResult = S_OK;
  std::uint8_t block[60] = {};
  EXPECT_TRUE(link.GetCur(block, 60, filter).Ok());
  EXPECT_EQ(Settings(receiver).calls.back().dataLength, 60u);

  // A size query that fails ends the read before it is made.
  Settings(receiver).sizeResult = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
  const std::size_t before = Settings(receiver).calls.size();
  EXPECT_EQ(link.GetCur(block, 60, filter),
            LinkStatus::Of(StatusKind::Refused, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)));
  EXPECT_EQ(Settings(receiver).calls.size(), before + 2);  // the unit's query and the size query
  filter.reset();
  EXPECT_EQ(Unbalanced(), "");
}

// Wine's own capture stack, with no video device attached.
TEST(ReceiverLinkOnWine, EveryOperationFailsCleanlyWithoutVideoDevices) {
  ComApartment apartment;
  DirectShowCaptureStack stack;
  ReceiverLink link(stack);
  DeviceRef filter;
  EXPECT_EQ(link.FindReceiverByUsbId(filter).kind, StatusKind::NotFound);
  EXPECT_FALSE(filter);
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter).kind, StatusKind::NotFound);
  EXPECT_FALSE(filter);
  std::uint8_t block[60];
  std::fill(std::begin(block), std::end(block), std::uint8_t{0x5A});
  EXPECT_EQ(link.SetCur(block, 60, nullptr).kind, StatusKind::NotFound);
  EXPECT_EQ(link.GetCur(block, 60, nullptr).kind, StatusKind::NotFound);
  EXPECT_TRUE(std::all_of(block, block + 60, [](std::uint8_t b) { return b == 0x5A; }));
}

}  // namespace
}  // namespace nerova::link::win
