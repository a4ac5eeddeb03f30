// The tray host under Wine: its icon, its menu, device notices, the exit
// paths, and replacing settings windows, also many at once.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/app_messages.h"
#include "app/receiver_gate.h"
#include "resources/resource_ids.h"
#include "settings/reboot_flag.h"
#include "tests/app/win/host_runner.h"
#include "tests/app/win/test_stack.h"
#include "tests/ui/win_test_support.h"

namespace nerova::app::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kInterface = DBT_DEVTYP_DEVICEINTERFACE;  // 5
constexpr DWORD kPort = DBT_DEVTYP_PORT;                  // 3
constexpr DWORD kVolume = DBT_DEVTYP_VOLUME;              // 2

class HostEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { test::InitCommonControlsForTests(); }
};
[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new HostEnvironment);

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_bRebootExpected = false;
    TestStack().ClearTransfers();
  }
  void TearDown() override { g_bRebootExpected = false; }
};

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int CountIconCalls(const std::vector<IconCall>& calls, DWORD message) {
  int count = 0;
  for (const IconCall& call : calls) count += call.message == message ? 1 : 0;
  return count;
}

// The popup menu window of `threadId` while one is open.
HWND OpenMenuWindow(DWORD threadId) {
  for (HWND window : test::ThreadWindows(threadId)) {
    if (IsWindowVisible(window) && test::ClassName(window) == L"#32768") return window;
  }
  return nullptr;
}

HWND WaitForMenu(DWORD threadId) {
  HWND menu = nullptr;
  test::WaitUntil([&] { return (menu = OpenMenuWindow(threadId)) != nullptr; });
  return menu;
}

TEST_F(HostTest, StartsHiddenWithOneSettingsWindowAndTheTrayIcon) {
  HostRunner runner;
  ASSERT_NE(runner.Host(), nullptr);
  const HWND settings = runner.WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  EXPECT_NE(WindowThread(settings), runner.HostThreadId()) << "the settings window runs on a thread of its own";
  EXPECT_FALSE(IsWindowVisible(runner.Host()));
  EXPECT_FALSE(g_bHideOnFirstErase) << "the host hid itself at its first erase";
  EXPECT_EQ(test::WindowText(runner.Host()), L"Dialog");

  const std::vector<IconCall> calls = runner.Object().IconCalls();
  ASSERT_EQ(calls.size(), 1u);
  const NOTIFYICONDATAW& icon = calls.front().data;
  EXPECT_EQ(calls.front().message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(icon.cbSize, sizeof(NOTIFYICONDATAW));
  EXPECT_EQ(icon.hWnd, runner.Host());
  EXPECT_EQ(icon.uID, 128u);
  EXPECT_EQ(icon.uFlags, 7u);
  EXPECT_EQ(icon.uCallbackMessage, 2025u);
  EXPECT_NE(icon.hIcon, nullptr);
  EXPECT_EQ(std::wstring(icon.szTip), L"Nerova Wireless Receiver Setting V1.1");
  EXPECT_EQ(icon.uVersion, 0u);

  EXPECT_EQ(g_deviceFilter.dbcc_size, 32u);
  EXPECT_EQ(g_deviceFilter.dbcc_devicetype, 5u);
  EXPECT_EQ(g_deviceFilter.dbcc_classguid.Data1, 0xE5323777u);
  EXPECT_EQ(g_deviceFilter.dbcc_classguid.Data4[7], 0x44);
}

TEST_F(HostTest, InterfaceAndPortRemovalsReplaceTheSettingsWindowAfterAPause) {
  HostRunner runner;
  HWND settings = runner.WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  for (DWORD type : {kInterface, kPort}) {
    SCOPED_TRACE(type);
    const Clock::time_point sent = Clock::now();
    EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, type), TRUE);
    EXPECT_GE(MillisecondsSince(sent), 290) << "the host pauses before starting the new window";
    const HWND replacement = runner.WaitForSettingsWindow(settings);
    ASSERT_NE(replacement, nullptr);
    EXPECT_TRUE(test::WaitUntil([&] { return !IsWindow(settings); })) << "the old window's thread unwound";
    settings = replacement;
  }
  const std::vector<IconCall> calls = runner.Object().IconCalls();
  EXPECT_EQ(CountIconCalls(calls, NIM_ADD), 1);
  EXPECT_EQ(CountIconCalls(calls, NIM_DELETE), 0) << "the tray icon stays";
  EXPECT_FALSE(runner.Ended());
}

TEST_F(HostTest, ANewWindowAppearsWhileTheReceiverIsStillHeldAndReadsItOnceFree) {
  HostRunner runner;
  const HWND first = runner.WaitForSettingsWindow();
  ASSERT_NE(first, nullptr);
  // A thread of the test plays an old settings thread stuck in a device
  // call: it takes the receiver as soon as the first window lets go of it,
  // and keeps it until the new window shows.
  ReceiverAccess stuck(ReceiverGate::Process());
  std::atomic<bool> held{false};
  std::thread holder([&] { held = stuck.Enter(); });
  const Clock::time_point sent = Clock::now();
  EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, kInterface), TRUE);
  holder.join();
  ASSERT_TRUE(held.load());
  const HWND second = runner.WaitForSettingsWindow(first);
  // Showing did not wait for the receiver, which an exchange waits for up to
  // kGateWaitLimit.
  EXPECT_LT(MillisecondsSince(sent), kGateWaitLimit.count());
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(stuck.HoldsGate());
  TestStack().ClearTransfers();
  stuck.Leave();
  stuck.ForceStop();
  EXPECT_TRUE(test::WaitUntil([&] { return test::WindowText(GetDlgItem(second, IDC_FIRMWARE_VERSION)) == L"V2.4.7"; }));
}

TEST_F(HostTest, ArrivalsVolumesAndOtherEventsChangeNothing) {
  HostRunner runner;
  const HWND settings = runner.WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEARRIVAL, kInterface), TRUE);
  EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, kVolume), TRUE);
  EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_HANDLE), TRUE);
  EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEQUERYREMOVE, kInterface), FALSE);
  EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEREMOVEPENDING, kInterface), FALSE);
  EXPECT_EQ(VisibleSettingsWindows(), std::vector<HWND>{settings});
  EXPECT_TRUE(IsWindowVisible(settings));
}

TEST_F(HostTest, TheRebootFlagIsConsumedByTheFirstQualifyingRemovalOnly) {
  HostRunner runner;
  const HWND settings = runner.WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  g_bRebootExpected = true;
  EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, kVolume), TRUE);
  EXPECT_TRUE(g_bRebootExpected) << "a volume is no receiver";
  EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, kInterface), TRUE);
  EXPECT_FALSE(g_bRebootExpected);
  EXPECT_EQ(VisibleSettingsWindows(), std::vector<HWND>{settings}) << "the rebooting window waits for its receiver";

  EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, kPort), TRUE);
  EXPECT_NE(runner.WaitForSettingsWindow(settings), nullptr) << "the next removal replaces the window";
}

TEST_F(HostTest, OnlyARightButtonReleaseOpensTheOneItemMenu) {
  HostRunner runner;
  ASSERT_NE(runner.WaitForSettingsWindow(), nullptr);
  // Sent and answered at once: none of these opens a menu (which would keep
  // the host inside TrackPopupMenu).
  for (UINT mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_MOUSEMOVE}) {
    DWORD_PTR answer = 1;
    EXPECT_NE(SendMessageTimeoutW(runner.Host(), WM_TRAYICON, IDI_APP, mouse, SMTO_NORMAL, kTimeoutMs, &answer), 0);
    EXPECT_EQ(answer, 0u);
    EXPECT_EQ(OpenMenuWindow(runner.HostThreadId()), nullptr) << mouse;
  }

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    runner.PostTrayCallback(WM_RBUTTONUP);
    const HWND menuWindow = WaitForMenu(runner.HostThreadId());
    ASSERT_NE(menuWindow, nullptr);
    const auto menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 1);
    EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(ID_TRAY_EXIT));
    wchar_t text[32] = {};
    GetMenuStringW(menu, 0, text, 32, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text), L"Exit(&E)");
    // Dismissed: the host goes on, and the menu opens again next time.
    PostMessageW(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(test::WaitUntil([&] { return OpenMenuWindow(runner.HostThreadId()) == nullptr; }));
  }
  EXPECT_FALSE(runner.Ended());
  EXPECT_FALSE(IsWindowVisible(runner.Host()));
}

TEST_F(HostTest, ChoosingExitInTheMenuEndsTheProgram) {
  HostRunner runner;
  ASSERT_NE(runner.WaitForSettingsWindow(), nullptr);
  runner.PostTrayCallback(WM_RBUTTONUP);
  const HWND menuWindow = WaitForMenu(runner.HostThreadId());
  ASSERT_NE(menuWindow, nullptr);
  // The item's mnemonic chooses it.
  PostMessageW(menuWindow, WM_CHAR, L'e', 0);
  EXPECT_TRUE(runner.WaitForEnd());
  EXPECT_TRUE(g_bSettingsClosed);
  EXPECT_TRUE(runner.ThreadsEnded());
}

TEST_F(HostTest, ExitWithAnIdleWindowEndsThroughTheWindowClosing) {
  HostRunner runner;
  const HWND settings = runner.WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  runner.PostExit();
  ASSERT_TRUE(runner.WaitForEnd());
  EXPECT_TRUE(g_bSettingsClosed) << "the window closed and told the host; the timer did not act";
  EXPECT_TRUE(runner.ThreadsEnded());
  EXPECT_FALSE(IsWindow(settings));
  const std::vector<IconCall> calls = runner.Object().IconCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(calls.back().data.uID, 128u);
}

// A window procedure put in front of the settings window's: a private
// message makes the window's thread stop answering until released.
constexpr UINT kMsgStall = WM_APP + 0x77;
HANDLE g_release = nullptr;
std::atomic<bool> g_stalled{false};
WNDPROC g_dialogProcedure = nullptr;

LRESULT CALLBACK StallingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kMsgStall) {
    g_stalled = true;
    WaitForSingleObject(g_release, kTimeoutMs);
    g_stalled = false;
    return 0;
  }
  return CallWindowProcW(g_dialogProcedure, window, message, wParam, lParam);
}

TEST_F(HostTest, ExitWithAWindowThatDoesNotAnswerEndsAfterTheGracePeriod) {
  HostRunner runner;
  const HWND settings = runner.WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_dialogProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(settings, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StallingProcedure)));
  PostMessageW(settings, kMsgStall, 0, 0);
  ASSERT_TRUE(test::WaitUntil([] { return g_stalled.load(); }));

  const Clock::time_point exit = Clock::now();
  runner.PostExit();
  ASSERT_TRUE(runner.WaitForEnd());
  EXPECT_GE(MillisecondsSince(exit), 990);
  EXPECT_FALSE(g_bSettingsClosed) << "ended by the timer";
  EXPECT_TRUE(g_stalled) << "the host did not wait for the window";
  EXPECT_EQ(CountIconCalls(runner.Object().IconCalls(), NIM_DELETE), 1);

  // Released, the stopped thread unwinds by itself and its window goes.
  SetEvent(g_release);
  EXPECT_TRUE(test::WaitUntil([&] { return !IsWindow(settings); }));
  EXPECT_TRUE(runner.ThreadsEnded());
  CloseHandle(g_release);
  g_release = nullptr;
}

TEST_F(HostTest, ClosingTheSettingsWindowEndsTheProgramAndRemovesTheIcon) {
  HostRunner runner;
  const HWND settings = runner.WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  PostMessageW(settings, WM_CLOSE, 0, 0);
  ASSERT_TRUE(runner.WaitForEnd());
  EXPECT_TRUE(g_bSettingsClosed);
  EXPECT_TRUE(runner.ThreadsEnded());
  EXPECT_EQ(CountIconCalls(runner.Object().IconCalls(), NIM_DELETE), 1);
  EXPECT_FALSE(IsWindow(runner.Host()));
}

TEST_F(HostTest, ExplorerRestartingGetsTheIconAddedAgain) {
  HostRunner runner;
  ASSERT_NE(runner.WaitForSettingsWindow(), nullptr);
  DWORD_PTR answer = 1;
  SendMessageTimeoutW(runner.Host(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_NORMAL, kTimeoutMs,
                      &answer);
  const std::vector<IconCall> calls = runner.Object().IconCalls();
  ASSERT_EQ(CountIconCalls(calls, NIM_ADD), 2);
  EXPECT_EQ(std::wstring(calls.back().data.szTip), L"Nerova Wireless Receiver Setting V1.1");
}

// The box's own modal loop, inside the settings window's, both end when the
// window's thread is stopped.
TEST_F(HostTest, ARemovalWhileTheWindowShowsABoxEndsBothLoops) {
  HostRunner runner;
  const HWND settings = runner.WaitForSettingsWindow();
  ASSERT_NE(settings, nullptr);
  const int threadsBefore = ProcessThreadCount();
  // Loaded once it shows the receiver (Apply comes alive).
  ASSERT_TRUE(test::WaitUntil([&] { return IsWindowEnabled(GetDlgItem(settings, IDC_APPLY)) != FALSE; }));
  SetWindowTextW(GetDlgItem(settings, IDC_WIFI_PASSWORD), L"");
  PostMessageW(GetDlgItem(settings, IDC_APPLY), BM_CLICK, 0, 0);
  HWND box = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] {
    for (HWND window : test::ThreadWindows(WindowThread(settings))) {
      if (window != settings && IsWindowVisible(window) && GetWindow(window, GW_OWNER) == settings) box = window;
    }
    return box != nullptr;
  }));
  EXPECT_EQ(test::WindowText(GetDlgItem(box, 0xFFFF)), L"Password should not be empty");

  EXPECT_EQ(runner.SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, kInterface), TRUE);
  const HWND replacement = runner.WaitForSettingsWindow(settings);
  ASSERT_NE(replacement, nullptr);
  EXPECT_TRUE(test::WaitUntil([&] { return !IsWindow(box) && !IsWindow(settings); }));
  EXPECT_TRUE(test::WaitUntil([&] { return ProcessThreadCount() <= threadsBefore; }))
      << "the stopped thread ended by itself";
  EXPECT_FALSE(runner.Ended()) << "a stopped window's end is no reason to end the program";
}

TEST_F(HostTest, AStormOfRemovalsLeavesOneWindowAndNoThreadBehind) {
  HostRunner runner;
  const HWND first = runner.WaitForSettingsWindow();
  ASSERT_NE(first, nullptr);
  const int threadsBefore = ProcessThreadCount();
  ASSERT_GT(threadsBefore, 0);

  // At no moment of the storm may two settings windows be visible.
  std::atomic<bool> storming{true};
  std::atomic<std::size_t> mostVisible{0};
  std::thread watcher([&] {
    while (storming) {
      const std::size_t visible = VisibleSettingsWindows().size();
      if (visible > mostVisible) mostVisible = visible;
      Sleep(5);
    }
  });
  std::vector<std::thread> senders;
  for (int sender = 0; sender < 5; ++sender) {
    senders.emplace_back([&runner] {
      for (int i = 0; i < 10; ++i) runner.SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, kInterface);
    });
  }
  for (std::thread& sender : senders) sender.join();
  const HWND last = runner.WaitForSettingsWindow(first);
  storming = false;
  watcher.join();

  ASSERT_NE(last, nullptr);
  EXPECT_LE(mostVisible.load(), 1u);
  EXPECT_EQ(VisibleSettingsWindows(), std::vector<HWND>{last});
  // The 49 stopped threads end by themselves; then the count is as before.
  EXPECT_TRUE(test::WaitUntil([&] { return ProcessThreadCount() <= threadsBefore; }, 60000))
      << ProcessThreadCount() << " threads, " << threadsBefore << " before";
  // And the one window left still works: it closes and ends the program.
  runner.PostExit();
  ASSERT_TRUE(runner.WaitForEnd());
  EXPECT_TRUE(g_bSettingsClosed);
  EXPECT_TRUE(runner.ThreadsEnded());
}

// Bursts of removals at random moments of a window's life: as it starts, as
// it loads, while it applies, and when it is idle; each round must end with
// one visible window and a quick, clean Exit.
TEST_F(HostTest, RemovalBurstsAtAnyPhaseLeaveOneWindowAndAQuickExit) {
  std::mt19937 random(20261208);
  const Clock::time_point start = Clock::now();
  for (int round = 0; round < 8 && MillisecondsSince(start) < 90000; ++round) {
    const int phase = round % 4;
    SCOPED_TRACE("round " + std::to_string(round) + ", phase " + std::to_string(phase));
    HostRunner runner;
    HWND window = nullptr;
    if (phase > 0) {
      window = runner.WaitForSettingsWindow();
      ASSERT_NE(window, nullptr);
    }
    if (phase == 1) Sleep(std::uniform_int_distribution<int>(0, 150)(random));  // during the load
    if (phase == 2) PostMessageW(GetDlgItem(window, IDC_APPLY), BM_CLICK, 0, 0);
    if (phase == 3) {
      ASSERT_TRUE(test::WaitUntil([&] { return !test::WindowText(GetDlgItem(window, IDC_FIRMWARE_VERSION)).empty(); }));
    }
    std::vector<std::thread> senders;
    for (int sender = 0; sender < 2; ++sender) {
      senders.emplace_back([&runner] {
        for (int i = 0; i < 6; ++i) runner.SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, kInterface);
      });
    }
    for (std::thread& sender : senders) sender.join();
    // The last window stays alone; the ones before it are gone for good.
    HWND last = nullptr;
    ASSERT_TRUE(test::WaitUntil([&] {
      const std::vector<HWND> visible = VisibleSettingsWindows();
      last = visible.size() == 1 && visible[0] != window ? visible[0] : nullptr;
      return last != nullptr;
    }));
    EXPECT_TRUE(test::WaitUntil([&] { return !IsWindow(window); }));
    const Clock::time_point exitAt = Clock::now();
    runner.PostExit();
    ASSERT_TRUE(runner.WaitForEnd());
    // Idle, the window closes at once; an Apply it is finishing, or a thread
    // of it that does not answer, costs at most the host's exit timer.
    EXPECT_LT(MillisecondsSince(exitAt), 3000);
    EXPECT_TRUE(runner.ThreadsEnded());
  }
}

}  // namespace
}  // namespace nerova::app::testing
