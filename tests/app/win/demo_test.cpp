// The demo build's host hooks under Wine: the substitute's receiver
// vanishing reaches the host as Windows reports a camera's removal, so an
// unplug replaces the settings window and the reboot after Apply does not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/demo_host_hooks.h"
#include "app/demo_stack.h"
#include "resources/resource_ids.h"
#include "settings/reboot_flag.h"
#include "tests/app/win/host_runner.h"
#include "tests/ui/win_test_support.h"

namespace nerova::app::testing {
namespace {

class DemoEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { test::InitCommonControlsForTests(); }
};
[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new DemoEnvironment);

std::wstring ItemText(HWND window, int id) { return test::WindowText(GetDlgItem(window, id)); }

bool ShowsTheReceiver(HWND window) {
  return ItemText(window, IDC_FIRMWARE_VERSION) == L"V2.4.7" && IsWindowEnabled(GetDlgItem(window, IDC_APPLY));
}

TEST(DemoHost, UnpluggingTheReceiverReplacesTheWindowAndPluggingItInIsLeftToTheWindow) {
  g_bRebootExpected = false;
  HostRunner runner(std::make_unique<DemoHostHooks>());
  const HWND first = runner.WaitForSettingsWindow();
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return ShowsTheReceiver(first); }));

  PostMessageW(runner.Host(), RegisterWindowMessageW(kDemoUnplugMessage), 0, 0);
  const HWND second = runner.WaitForSettingsWindow(first);
  ASSERT_NE(second, nullptr) << "the removal notice replaced the window";
  EXPECT_FALSE(DemoReceiver().IsPresent());
  EXPECT_TRUE(test::WaitUntil([&] { return !IsWindow(first); }));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(second, IDC_APPLY))) << "no receiver to apply to";

  PostMessageW(runner.Host(), RegisterWindowMessageW(kDemoReplugMessage), 0, 0);
  EXPECT_TRUE(test::WaitUntil([&] { return ShowsTheReceiver(second); }, 60000))
      << "the window's own probe finds the receiver again";
  EXPECT_EQ(VisibleSettingsWindows(), std::vector<HWND>{second}) << "the arrival changed nothing at the host";
}

TEST(DemoHost, TheReceiversRebootAfterApplyKeepsTheWindowWaitingForIt) {
  g_bRebootExpected = false;
  DemoReceiver().SetRebootTime(std::chrono::milliseconds(1000));
  test::CapturedBoxes boxes;
  HostRunner runner(std::make_unique<DemoHostHooks>());
  const HWND window = runner.WaitForSettingsWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return ShowsTheReceiver(window); }));
  DemoStack().ClearTransfers();

  PostMessageW(GetDlgItem(window, IDC_APPLY), BM_CLICK, 0, 0);
  // The restart command makes the receiver vanish; the host hears of it and
  // consumes the flag instead of replacing the window.
  ASSERT_TRUE(test::WaitUntil([&] { return !DemoReceiver().IsPresent(); }));
  EXPECT_TRUE(test::WaitUntil([] { return !g_bRebootExpected.load(); }));
  ASSERT_EQ(boxes.Texts().size(), 1u);
  EXPECT_EQ(boxes.Texts()[0], L"The setup was successful and the device is now rebooting");

  // Back after its restart, found by the window's 10 s tick.
  EXPECT_TRUE(test::WaitUntil([&] { return ShowsTheReceiver(window); }, 60000));
  EXPECT_EQ(VisibleSettingsWindows(), std::vector<HWND>{window});
  EXPECT_FALSE(runner.Ended());
}

}  // namespace
}  // namespace nerova::app::testing
