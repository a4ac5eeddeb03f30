#pragma once
// The starting point of a test against the virtual receiver: installed in the
// test's prefix once, then for each test its factory settings, a short
// restart and a Wi-Fi name of its own; the second receiver on request.
#include <gtest/gtest.h>

#include "tests/sim/win/virtual_receiver_driver.h"

namespace nerova::sim::virtual_receiver::testing {

class VirtualReceiverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(RunController(L"install"), 0); }
  void SetUp() override {
    ASSERT_EQ(RunController(L"reset"), 0);
    ASSERT_EQ(RunController(L"set restarttime 3000"), 0);
    ASSERT_EQ(RunController(L"set wifiname Site-Cam-7"), 0);
  }
  // The second receiver attached too, set up as the first is but with a
  // Wi-Fi name of its own.
  static void AttachSecondReceiver() {
    ASSERT_EQ(RunController(kSecondReceiverDevice, L"reset"), 0);
    ASSERT_EQ(RunController(kSecondReceiverDevice, L"set restarttime 3000"), 0);
    ASSERT_EQ(RunController(kSecondReceiverDevice, L"set wifiname Site-Cam-8"), 0);
    ASSERT_EQ(RunController(L"fault second-receiver"), 0);
  }
};

}  // namespace nerova::sim::virtual_receiver::testing
