#include "link/receiver_link.h"

#include <gtest/gtest.h>

#include <array>

#include "tests/link/scripted_stack.h"

namespace nerova::link {
namespace {

using testing::ReceiverNodes;
using testing::ScriptedCall;
using testing::ScriptedDevice;
using testing::ScriptedNode;
using testing::ScriptedStack;
using testing::UsbDeviceName;

const std::wstring kReceiverName = UsbDeviceName(L"vid_1d6b&pid_010c");
const std::wstring kWebcamName = UsbDeviceName(L"vid_046d&pid_0825");

ScriptedDevice Receiver(std::wstring name = kReceiverName) {
  return {name, kS_OK, kS_OK, kS_OK, ReceiverNodes()};
}
ScriptedDevice Webcam() {
  ScriptedDevice d{kWebcamName, kS_OK, kS_OK, kS_OK, ReceiverNodes()};
  d.nodes[2].unit.reset();
  d.nodes[3].unit.reset();
  return d;
}

void ExpectNothingLeftOpen(const ScriptedStack& stack, int filterRefs = 0) {
  EXPECT_EQ(stack.live.monikers, 0);
  EXPECT_EQ(stack.live.enumerations, 0);
  EXPECT_EQ(stack.live.topologies, 0);
  EXPECT_EQ(stack.live.controls, 0);
  EXPECT_EQ(stack.live.filterRefs, filterRefs);
}

std::vector<ScriptedCall> CallsOfProperty(const ScriptedStack& stack, std::uint32_t id) {
  std::vector<ScriptedCall> out;
  for (const ScriptedCall& c : stack.calls) {
    KsNodeFields f;
    ParseKsNodeRequest(c.request.data(), 32, f);
    if (f.id == id) out.push_back(c);
  }
  return out;
}

// --- finding the receiver by its USB identity ---

TEST(FindReceiverByUsbId, EnumeratorFailuresComeBackAsTheyCame) {
  ScriptedStack stack;
  stack.enumerateResult = static_cast<HResult>(0x80040154u);
  ReceiverLink link(stack);
  FilterRef filter;
  EXPECT_EQ(link.FindReceiverByUsbId(filter), static_cast<HResult>(0x80040154u));
  EXPECT_FALSE(filter);

  stack.enumerateResult = kS_OK;
  stack.emptyCategory = true;
  EXPECT_EQ(link.FindReceiverByUsbId(filter), kE_FAIL);
  EXPECT_FALSE(filter);
  // Only the probe search reports a missing device to the debugger.
  EXPECT_TRUE(stack.debugLines.empty());
  ExpectNothingLeftOpen(stack);
}

TEST(FindReceiverByUsbId, MatchesTheIdentityTextExactlyAnywhereInTheName) {
  ScriptedStack stack;
  stack.devices = {Receiver(L"@device:pnp:\\\\?\\USB#VID_1D6B&PID_010C&MI_00#7&2f1c&0&0000"),
                   Receiver(L"@device:pnp:\\\\?\\usb#vid_1d6b&pid_010"), Webcam(),
                   Receiver(L"@device:pnp:\\\\?\\usb#x#vid_1d6b&pid_010c")};
  ReceiverLink link(stack);
  FilterRef filter;
  ASSERT_EQ(link.FindReceiverByUsbId(filter), kS_OK);
  ASSERT_TRUE(filter);
  // Upper case and a cut identity do not count; the text at the very end does.
  EXPECT_EQ(stack.bound, std::vector<std::size_t>{3});
  ExpectNothingLeftOpen(stack, 1);
  filter.Reset();
  ExpectNothingLeftOpen(stack);
}

TEST(FindReceiverByUsbId, ExaminesLongDisplayNamesWhole) {
  ScriptedStack stack;
  std::wstring longName =
      L"@device:pnp:\\\\?\\usb#" + std::wstring(300, L'x') + L"vid_1d6b&pid_010c";
  stack.devices = {Receiver(longName)};
  ReceiverLink link(stack);
  FilterRef filter;
  EXPECT_EQ(link.FindReceiverByUsbId(filter), kS_OK);
  EXPECT_TRUE(filter);
}

TEST(FindReceiverByUsbId, UsesTheFirstListedReceiverAndSkipsNamelessDevices) {
  ScriptedStack stack;
  stack.devices = {Receiver(), Receiver(), Receiver()};
  stack.devices[0].nameResult = kE_FAIL;
  ReceiverLink link(stack);
  FilterRef filter;
  ASSERT_EQ(link.FindReceiverByUsbId(filter), kS_OK);
  EXPECT_EQ(stack.bound, std::vector<std::size_t>{1});
  ExpectNothingLeftOpen(stack, 1);
}

TEST(FindReceiverByUsbId, AMatchThatCannotBeBoundEndsTheSearchWithTheBindResult) {
  ScriptedStack stack;
  stack.devices = {Receiver(), Receiver()};
  stack.devices[0].bindResult = static_cast<HResult>(0x80070005u);
  ReceiverLink link(stack);
  FilterRef filter;
  EXPECT_EQ(link.FindReceiverByUsbId(filter), static_cast<HResult>(0x80070005u));
  EXPECT_FALSE(filter);
  EXPECT_TRUE(stack.bound.empty());  // the second receiver is not tried
  ExpectNothingLeftOpen(stack);
}

TEST(FindReceiverByUsbId, NoMatchingDeviceIsAFailure) {
  ScriptedStack stack;
  stack.devices = {Webcam(), Webcam()};
  ReceiverLink link(stack);
  FilterRef filter;
  EXPECT_EQ(link.FindReceiverByUsbId(filter), kE_FAIL);
  EXPECT_FALSE(filter);
  EXPECT_TRUE(stack.bound.empty());
  ExpectNothingLeftOpen(stack);
}

// --- finding the receiver by its probe unit ---

TEST(FindReceiverByProbeUnit, EmptyCategoryWritesTheDebuggerLine) {
  ScriptedStack stack;
  stack.emptyCategory = true;
  ReceiverLink link(stack);
  FilterRef filter;
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter), kE_FAIL);
  ASSERT_EQ(stack.debugLines.size(), 1u);
  EXPECT_EQ(stack.debugLines[0], L"No video capture device was detected.\r\n\r\n");

  stack.emptyCategory = false;
  stack.enumerateResult = static_cast<HResult>(0x80004002u);
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter), static_cast<HResult>(0x80004002u));
  EXPECT_EQ(stack.debugLines.size(), 1u);
  ExpectNothingLeftOpen(stack);
}

TEST(FindReceiverByProbeUnit, AsksEveryNodeWithTheProbeUnitsInformationQuery) {
  ScriptedStack stack;
  stack.devices = {Webcam(), Receiver(kWebcamName)};  // the probe search ignores names
  ReceiverLink link(stack);
  FilterRef filter;
  ASSERT_EQ(link.FindReceiverByProbeUnit(filter), kS_OK);
  EXPECT_EQ(stack.bound, (std::vector<std::size_t>{0, 1}));
  ExpectNothingLeftOpen(stack, 1);

  // Five nodes of the webcam, whatever their type, then the receiver's nodes
  // up to its probe unit at node 2.
  ASSERT_EQ(stack.calls.size(), 8u);
  for (std::size_t i = 0; i < stack.calls.size(); ++i) {
    const ScriptedCall& c = stack.calls[i];
    const std::uint32_t node =
        i < 5 ? static_cast<std::uint32_t>(i) : static_cast<std::uint32_t>(i - 5);
    EXPECT_EQ(c.request, NodeGetRequest(ProbeUnitGuid, 0, node)) << i;
    EXPECT_EQ(c.propertyLength, 32u);
    EXPECT_FALSE(c.dataNull);
    EXPECT_EQ(c.dataLength, 32u);
  }
  EXPECT_EQ(stack.calls.back().device, 1u);
  EXPECT_EQ(stack.calls.back().node, 2u);
}

TEST(FindReceiverByProbeUnit, OnlyTheAnswersGuidCountsNotTheRequestsResult) {
  ScriptedStack stack;
  stack.devices = {Receiver(), Receiver()};
  stack.devices[0].nodes[2].unit.reset();  // answers S_OK with nothing
  stack.devices[1].nodes[2].unitInfoResult = kE_FAIL;
  ReceiverLink link(stack);
  FilterRef filter;
  ASSERT_EQ(link.FindReceiverByProbeUnit(filter), kS_OK);
  EXPECT_EQ(stack.bound.back(), 1u);
}

TEST(FindReceiverByProbeUnit, ANodeThatCannotBeOpenedRulesOutItsDevice) {
  ScriptedStack stack;
  stack.devices = {Receiver(), Receiver()};
  stack.devices[0].nodes[1].openResult = kE_FAIL;  // before the probe unit at node 2
  ReceiverLink link(stack);
  FilterRef filter;
  ASSERT_EQ(link.FindReceiverByProbeUnit(filter), kS_OK);
  EXPECT_EQ(stack.bound, (std::vector<std::size_t>{0, 1}));
  for (const ScriptedCall& c : stack.calls) EXPECT_NE(c.device == 0 && c.node >= 1, true);
  ExpectNothingLeftOpen(stack, 1);
  EXPECT_EQ(stack.RefsOf(0), 0);
  EXPECT_EQ(stack.RefsOf(1), 1);
}

TEST(FindReceiverByProbeUnit, SkipsUnboundAndTopologylessDevicesAndFailsWhenNoneIsLeft) {
  ScriptedStack stack;
  stack.devices = {Receiver(), Receiver(), Webcam()};
  stack.devices[0].bindResult = kE_FAIL;
  stack.devices[1].topologyResult = kE_NOINTERFACE;
  ReceiverLink link(stack);
  FilterRef filter;
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter), kE_FAIL);
  EXPECT_FALSE(filter);
  EXPECT_EQ(stack.bound, (std::vector<std::size_t>{1, 2}));
  EXPECT_TRUE(stack.debugLines.empty());
  ExpectNothingLeftOpen(stack);
}

// --- the settings-node walk of SetCur and GetCur ---

class Transfer : public ::testing::Test {
 protected:
  Transfer() { stack.devices = {Receiver()}; }
  FilterRef Bind() {
    FilterRef f;
    EXPECT_EQ(link.FindReceiverByUsbId(f), kS_OK);
    stack.calls.clear();
    return f;
  }
  ScriptedStack stack;
  ReceiverLink link{stack};
  std::array<std::uint8_t, 60> block{};
};

TEST_F(Transfer, SetCurSendsTheCallersBytesToTheSettingsNodeOnly) {
  block[0] = 0x06;
  block[1] = 'r';
  ASSERT_EQ(link.SetCur(block.data(), 60, nullptr), kS_OK);
  // Unit query on the probe node (skipped), unit query and write on node 3;
  // the video nodes are not opened at all.
  ASSERT_EQ(stack.calls.size(), 3u);
  EXPECT_EQ(stack.calls[0].node, 2u);
  EXPECT_EQ(stack.calls[0].request, NodeGetRequest(SettingsUnitGuid, 0, 2));
  EXPECT_EQ(stack.calls[1].request, NodeGetRequest(SettingsUnitGuid, 0, 3));
  const ScriptedCall& write = stack.calls[2];
  EXPECT_EQ(write.request, NodeSetRequest(SettingsUnitGuid, 3, 3));
  EXPECT_EQ(write.request[20], 0x02);
  EXPECT_EQ(write.request[23], 0x10);
  EXPECT_EQ(write.propertyLength, 32u);
  EXPECT_EQ(write.dataLength, 60u);
  EXPECT_EQ(write.sent, std::vector<std::uint8_t>(block.begin(), block.end()));
  // The filter found for this one call is given back.
  ExpectNothingLeftOpen(stack);
}

TEST_F(Transfer, ACallersFilterGetsAReferenceOfItsOwnForTheCall) {
  FilterRef filter = Bind();
  ASSERT_EQ(link.SetCur(block.data(), 60, filter.Get()), kS_OK);
  ASSERT_EQ(link.GetCur(block.data(), 60, filter.Get()), kS_OK);
  for (const ScriptedCall& c : stack.calls) EXPECT_EQ(c.filterRefsAtCall, 2);
  EXPECT_EQ(stack.bound.size(), 1u);  // no search of its own
  ExpectNothingLeftOpen(stack, 1);
}

TEST_F(Transfer, GetCurAsksTheSizeThenReadsExactlyThatMuch) {
  stack.devices[0].nodes[3].sizeReported = 32;
  stack.devices[0].nodes[3].answer.assign(32, 0x11);
  block.fill(0xEE);
  ASSERT_EQ(link.GetCur(block.data(), 60, nullptr), kS_OK);
  const std::vector<ScriptedCall> control = CallsOfProperty(stack, 3);
  ASSERT_EQ(control.size(), 2u);
  EXPECT_EQ(control[0].request, NodeGetRequest(SettingsUnitGuid, 3, 3));
  EXPECT_TRUE(control[0].dataNull);
  EXPECT_EQ(control[0].dataLength, 0u);
  EXPECT_EQ(control[1].request, NodeGetRequest(SettingsUnitGuid, 3, 3));
  EXPECT_EQ(control[1].dataLength, 32u);
  for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(block[i], 0x11) << i;
  for (std::size_t i = 32; i < 60; ++i) EXPECT_EQ(block[i], 0xEE) << i;
  ExpectNothingLeftOpen(stack);
}

TEST_F(Transfer, GetCurRefusesAControlLongerThanTheBufferWithoutReading) {
  stack.devices[0].nodes[3].sizeReported = 64;
  block.fill(0xEE);
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), kMoreData);
  EXPECT_EQ(CallsOfProperty(stack, 3).size(), 1u);  // the size query only
  for (std::uint8_t b : block) EXPECT_EQ(b, 0xEE);
  // The comparison is unsigned: a huge reported length is refused too.
  stack.devices[0].nodes[3].sizeReported = 0xFFFFFFFFu;
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), kMoreData);
}

TEST_F(Transfer, GetCurFailsWhenOtherThanTheControlsLengthArrives) {
  stack.devices[0].nodes[3].readBytesReported = 59;
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), kE_FAIL);
  stack.devices[0].nodes[3].readBytesReported = 61;
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), kE_FAIL);
  stack.devices[0].nodes[3].readBytesReported = 60;
  stack.devices[0].nodes[3].readResult = static_cast<HResult>(0x8007001Fu);
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), static_cast<HResult>(0x8007001Fu));
  // A refused read reports no bytes; the refusal is the result.
  stack.devices[0].nodes[3].readBytesReported = 0;
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), static_cast<HResult>(0x8007001Fu));
}

TEST_F(Transfer, SizeQueryAnswers) {
  ScriptedNode& node = stack.devices[0].nodes[3];
  node.sizeResult = static_cast<HResult>(0x8007001Fu);
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), static_cast<HResult>(0x8007001Fu));
  EXPECT_EQ(CallsOfProperty(stack, 3).size(), 1u);

  // A size query that succeeds outright is believed when it names a length.
  stack.calls.clear();
  node.sizeResult = kS_OK;
  node.sizeReported = 60;
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), kS_OK);
  EXPECT_EQ(CallsOfProperty(stack, 3).size(), 2u);

  // A length of zero is no control to read, however it is reported.
  for (HResult answer : {kS_OK, kMoreData}) {
    stack.calls.clear();
    node.sizeResult = answer;
    node.sizeReported = 0;
    EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), kE_FAIL);
    EXPECT_EQ(CallsOfProperty(stack, 3).size(), 1u);
  }
}

TEST_F(Transfer, FailsWithoutExtensionUnitNodes) {
  for (ScriptedNode& n : stack.devices[0].nodes) n.type = Guid{};
  EXPECT_EQ(link.SetCur(block.data(), 60, nullptr), kE_FAIL);
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), kE_FAIL);
  EXPECT_TRUE(stack.calls.empty());
  ExpectNothingLeftOpen(stack);
}

TEST_F(Transfer, FailsWhenNoExtensionUnitIsTheSettingsUnit) {
  stack.devices[0].nodes[3].unit = ProbeUnitGuid;
  EXPECT_EQ(link.SetCur(block.data(), 60, nullptr), kE_FAIL);
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), kE_FAIL);
  EXPECT_TRUE(CallsOfProperty(stack, 3).empty());
  ExpectNothingLeftOpen(stack);
}

TEST_F(Transfer, ANodeThatCannotBeOpenedEndsTheWalkWithItsResult) {
  stack.devices[0].nodes[2].openResult = static_cast<HResult>(0x80070005u);
  EXPECT_EQ(link.SetCur(block.data(), 60, nullptr), static_cast<HResult>(0x80070005u));
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), static_cast<HResult>(0x80070005u));
  EXPECT_TRUE(stack.calls.empty());  // the settings node after it is not tried
  ExpectNothingLeftOpen(stack);
}

TEST_F(Transfer, ARefusedTransferGoesOnToTheNextSettingsNode) {
  stack.devices[0].nodes[2].unit = SettingsUnitGuid;
  stack.devices[0].nodes[2].writeResult = static_cast<HResult>(0x8007001Fu);
  stack.devices[0].nodes[2].readResult = static_cast<HResult>(0x8007001Fu);
  EXPECT_EQ(link.SetCur(block.data(), 60, nullptr), kS_OK);
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), kS_OK);
  EXPECT_EQ(stack.calls.back().node, 3u);

  // Both refuse: the last refusal is the result.
  stack.devices[0].nodes[3].writeResult = static_cast<HResult>(0x80070490u);
  stack.devices[0].nodes[3].readResult = static_cast<HResult>(0x80070490u);
  EXPECT_EQ(link.SetCur(block.data(), 60, nullptr), static_cast<HResult>(0x80070490u));
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), static_cast<HResult>(0x80070490u));
  ExpectNothingLeftOpen(stack);
}

TEST_F(Transfer, AFilterWithoutTopologyFailsWithTheQueryResult) {
  FilterRef filter = Bind();
  stack.devices[0].topologyResult = kE_NOINTERFACE;
  EXPECT_EQ(link.SetCur(block.data(), 60, filter.Get()), kE_NOINTERFACE);
  EXPECT_EQ(link.GetCur(block.data(), 60, filter.Get()), kE_NOINTERFACE);
  ExpectNothingLeftOpen(stack, 1);
}

TEST_F(Transfer, WithoutAFilterOrReceiverTheSearchResultComesBack) {
  stack.devices = {Webcam()};
  EXPECT_EQ(link.SetCur(block.data(), 60, nullptr), kE_FAIL);
  stack.enumerateResult = static_cast<HResult>(0x80040154u);
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), static_cast<HResult>(0x80040154u));
  EXPECT_TRUE(stack.calls.empty());
  ExpectNothingLeftOpen(stack);
}

}  // namespace
}  // namespace nerova::link
