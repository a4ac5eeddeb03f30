// The link's own rules over the receiver substitute: which device it takes,
// what ends a search, and how a read checks the control's length. The
// platforms' walks behind the boundary are tested where they run
// (tests/link_win, tests/link_linux).
#include "link/receiver_link.h"

#include <gtest/gtest.h>

#include <array>

#include "sim/sim_stack.h"

namespace nerova::link {
namespace {

using sim::Device;
using sim::SimStack;
using sim::TransferKind;

class Link : public ::testing::Test {
 protected:
  std::vector<std::size_t> DevicesAsked(TransferKind kind) const {
    std::vector<std::size_t> devices;
    for (const sim::TransferRecord& r : stack.Transfers()) {
      if (r.kind == kind && (devices.empty() || devices.back() != r.device)) devices.push_back(r.device);
    }
    return devices;
  }

  SimStack stack;
  ReceiverLink link{stack};
  std::array<std::uint8_t, 60> block{};
};

TEST_F(Link, TheUsbIdentitySearchTakesTheFirstNamedReceiverAndAFailedOpenEndsIt) {
  stack.AddCamera();
  Device nameless = stack.AddReceiver();
  nameless.SetDisplayNameResult(sim::kGenFailure);
  stack.AddDevice(sim::ReceiverDescription(1));
  stack.AddDevice(sim::ReceiverDescription(2));

  DeviceRef device;
  ASSERT_TRUE(link.FindReceiverByUsbId(device).Ok());
  ASSERT_TRUE(device);
  ASSERT_TRUE(link.SetCur(block.data(), 60, device).Ok());
  EXPECT_EQ(DevicesAsked(TransferKind::Set), std::vector<std::size_t>{2});
  EXPECT_EQ(stack.OpenDevices(), 1);

  // The first match that will not open ends the search with its status.
  device.reset();
  SimStack refusing;
  refusing.AddReceiver().SetBindResult(sim::kAccessDenied);
  refusing.AddDevice(sim::ReceiverDescription(1));
  ReceiverLink refusingLink(refusing);
  EXPECT_EQ(refusingLink.FindReceiverByUsbId(device), sim::kAccessDenied);
  EXPECT_FALSE(device);
  EXPECT_EQ(refusing.OpenDevices(), 0);
}

TEST_F(Link, NoReceiverIsNotFoundAndAListingFailureComesBackAsItCame) {
  stack.AddCamera();
  DeviceRef device;
  EXPECT_EQ(link.FindReceiverByUsbId(device).kind, StatusKind::NotFound);
  EXPECT_EQ(link.SetCur(block.data(), 60, nullptr).kind, StatusKind::NotFound);
  EXPECT_EQ(link.FindReceiverByProbeUnit(device).kind, StatusKind::NotFound);
  // Devices there were, so the debugger hears nothing.
  EXPECT_TRUE(stack.DebugLines().empty());

  stack.ClearTransfers();
  stack.SetEnumerateResult(sim::kClassNotRegistered);
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr), sim::kClassNotRegistered);
  EXPECT_EQ(link.FindReceiverByProbeUnit(device), sim::kClassNotRegistered);
  EXPECT_TRUE(stack.Transfers().empty());
  EXPECT_FALSE(device);
  EXPECT_EQ(stack.OpenDevices(), 0);
}

TEST_F(Link, TheProbeSearchPassesOverDevicesWithoutTheUnitAndTellsOfAnEmptyCategory) {
  DeviceRef device;
  EXPECT_EQ(link.FindReceiverByProbeUnit(device).kind, StatusKind::NotFound);
  EXPECT_EQ(stack.DebugLines(), std::vector<std::wstring>{L"No video capture device was detected.\r\n\r\n"});

  stack.AddCamera();
  stack.AddReceiver().SetBindResult(sim::kAccessDenied);
  stack.AddReceiver().SetNodeOpenResult(1, sim::kGenFailure);  // before its probe unit
  stack.AddReceiver().SetTopologyAvailable(false);
  sim::DeviceDescription nameless = sim::ReceiverDescription(1);
  nameless.displayName = L"a name without the identity";
  nameless.usb.reset();
  stack.AddDevice(nameless);
  ASSERT_TRUE(link.FindReceiverByProbeUnit(device).Ok());
  ASSERT_TRUE(link.SetCur(block.data(), 60, device).Ok());
  EXPECT_EQ(DevicesAsked(TransferKind::Set), std::vector<std::size_t>{4});
  // The receiver whose second unit will not open was asked at its first only.
  EXPECT_EQ(DevicesAsked(TransferKind::UnitInfo), (std::vector<std::size_t>{0, 2, 4}));
  EXPECT_EQ(stack.DebugLines().size(), 1u);
}

TEST_F(Link, GetCurReadsTheControlsLengthAndNoMore) {
  Device receiver = stack.AddReceiver();
  receiver.SetControlLength(32);
  block.fill(0xEE);
  ASSERT_TRUE(link.GetCur(block.data(), 60, nullptr).Ok());
  for (std::size_t i = 32; i < 60; ++i) EXPECT_EQ(block[i], 0xEE) << i;

  // Longer than the buffer: refused before the read.
  stack.ClearTransfers();
  receiver.SetControlLength(64);
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr).kind, StatusKind::WrongLength);
  EXPECT_TRUE(stack.DataTransfers().empty());
  // No bytes at all: no control to read.
  receiver.SetControlLength(0);
  EXPECT_EQ(link.GetCur(block.data(), 60, nullptr).kind, StatusKind::Failed);
  EXPECT_TRUE(stack.DataTransfers().empty());
}

TEST_F(Link, ACallersDeviceIsUsedAsItIsWithoutASearchOfItsOwn) {
  stack.AddReceiver();
  DeviceRef device;
  ASSERT_TRUE(link.FindReceiverByUsbId(device).Ok());
  ASSERT_TRUE(link.SetCur(block.data(), 60, device).Ok());
  ASSERT_TRUE(link.GetCur(block.data(), 60, device).Ok());
  EXPECT_EQ(stack.OpenDevices(), 1);
  device.reset();
  EXPECT_EQ(stack.OpenDevices(), 0);
  EXPECT_EQ(link.SetCur(nullptr, 60, nullptr).kind, StatusKind::Failed);
}

}  // namespace
}  // namespace nerova::link
