// ReceiverLink over the system's own device enumerator, monikers, filter
// binding and Kernel Streaming interfaces, against the virtual receiver in a
// module of its own: no stand-in written against our declarations. What the
// receiver got is checked through its controller.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "link/receiver_link.h"
#include "link/win/directshow_capture_stack.h"
#include "tests/link_win/com_apartment.h"
#include "tests/sim/win/virtual_receiver_driver.h"

namespace nerova::link::win {
namespace {

using sim::virtual_receiver::testing::ReceiverState;
using sim::virtual_receiver::testing::RunController;

constexpr LinkStatus kStalled = LinkStatus::Of(StatusKind::Refused, static_cast<std::int32_t>(0x8007001Fu));
constexpr LinkStatus kDeviceGone = LinkStatus::Of(StatusKind::Gone, static_cast<std::int32_t>(0x8007048Fu));

class VirtualReceiverLink : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(RunController(L"install"), 0); }
  void SetUp() override { ASSERT_EQ(RunController(L"reset"), 0); }

  // The block that asks for the firmware version, and the text of an answer.
  static std::array<std::uint8_t, 60> Query(std::uint8_t code) {
    std::array<std::uint8_t, 60> block{};
    block[0] = code;
    return block;
  }
  static std::string AnswerText(const std::array<std::uint8_t, 60>& answer) {
    return std::string(reinterpret_cast<const char*>(answer.data()) + 1);
  }

  testing::ComApartment apartment;
  DirectShowCaptureStack stack;
  ReceiverLink link{stack};
};

TEST_F(VirtualReceiverLink, FindsTheReceiverBothWaysAndMovesBlocksThroughItsSettingsUnit) {
  DeviceRef byId;
  ASSERT_TRUE(link.FindReceiverByUsbId(byId).Ok());
  DeviceRef byProbe;
  ASSERT_TRUE(link.FindReceiverByProbeUnit(byProbe).Ok());

  const auto query = Query(0x66);
  ASSERT_TRUE(link.SetCur(query.data(), 60, byId).Ok());
  std::array<std::uint8_t, 60> answer{};
  ASSERT_TRUE(link.GetCur(answer.data(), 60, byProbe).Ok());
  EXPECT_EQ(AnswerText(answer), "2.4.7");

  std::array<std::uint8_t, 60> write{};
  write[0] = 0x04;
  std::memcpy(write.data() + 1, "wifiname=Link-Test", 18);
  // A null filter finds the receiver for this one call.
  ASSERT_TRUE(link.SetCur(write.data(), 60, nullptr).Ok());
  EXPECT_EQ(ReceiverState().values.wifiName, "Link-Test");
}

TEST_F(VirtualReceiverLink, AFaultyOrVanishedReceiverGivesTheDriversAnswers) {
  DeviceRef receiver;
  ASSERT_TRUE(link.FindReceiverByUsbId(receiver).Ok());
  const auto query = Query(0x66);

  // A control longer than the buffer: refused, the buffer untouched.
  ASSERT_EQ(RunController(L"fault long-control"), 0);
  std::array<std::uint8_t, 60> answer;
  answer.fill(0xAB);
  EXPECT_EQ(link.GetCur(answer.data(), 60, receiver).kind, StatusKind::WrongLength);
  EXPECT_EQ(answer[0], 0xAB);
  // A shorter one: exactly its bytes, the rest as it was.
  ASSERT_EQ(RunController(L"fault clear"), 0);
  ASSERT_EQ(RunController(L"fault short-control"), 0);
  ASSERT_TRUE(link.SetCur(query.data(), 32, receiver).Ok());
  EXPECT_TRUE(link.GetCur(answer.data(), 60, receiver).Ok());
  EXPECT_EQ(answer[32], 0xAB);
  EXPECT_EQ(answer[31], 0);

  ASSERT_EQ(RunController(L"fault clear"), 0);
  ASSERT_EQ(RunController(L"fault refuse-set"), 0);
  EXPECT_EQ(link.SetCur(query.data(), 60, receiver), kStalled);
  ASSERT_EQ(RunController(L"fault clear"), 0);
  ASSERT_EQ(RunController(L"fault node-fails"), 0);
  EXPECT_EQ(link.SetCur(query.data(), 60, receiver), kStalled);
  ASSERT_EQ(RunController(L"fault clear"), 0);

  // Unplugged: gone from the category, and a filter bound before fails; it
  // stays failed after the receiver returns as a new device.
  ASSERT_EQ(RunController(L"unplug"), 0);
  DeviceRef none;
  EXPECT_EQ(link.FindReceiverByUsbId(none).kind, StatusKind::NotFound);
  EXPECT_EQ(link.SetCur(query.data(), 60, receiver), kDeviceGone);
  ASSERT_EQ(RunController(L"plug"), 0);
  EXPECT_EQ(link.SetCur(query.data(), 60, receiver), kDeviceGone);
  DeviceRef again;
  ASSERT_TRUE(link.FindReceiverByUsbId(again).Ok());
  EXPECT_TRUE(link.SetCur(query.data(), 60, again).Ok());
}

}  // namespace
}  // namespace nerova::link::win
