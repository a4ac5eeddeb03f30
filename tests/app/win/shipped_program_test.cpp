// The program that ships, NerovaReceiverSetting.exe, under Wine against the
// virtual receiver: found through the system device enumerator, bound through
// the registry, talked to through IKsTopologyInfo and IKsControl in another
// module, and told of the receiver's comings and goings by the notices the
// system broadcasts. Driven from outside, as a user would drive it.
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "settings/apply_texts.h"
#include "sim/receiver_firmware.h"
#include "sim/virtual/shared_receiver.h"
#include "tests/app/win/shipped_program.h"
#include "tests/sim/win/virtual_receiver_fixture.h"
#include "tests/ui/win_test_support.h"

namespace nerova::app::testing {
namespace {

constexpr DWORD kLongWaitMs = 60000;
constexpr std::uint8_t kRestartCode = 0x64;

using ShippedProgramTest = sim::virtual_receiver::testing::VirtualReceiverTest;

// The text of a logged block: the bytes after the command code, up to the
// first zero byte.
std::string PayloadText(const LoggedTransfer& t) {
  const std::string text = t.bytes.substr(1);
  return text.substr(0, text.find('\0'));
}

std::vector<LoggedTransfer> Sets(const std::vector<LoggedTransfer>& log) {
  std::vector<LoggedTransfer> sets;
  for (const LoggedTransfer& t : log) {
    if (t.set && PayloadText(t).size() > 0) sets.push_back(t);
    if (t.set && !t.bytes.empty() && static_cast<std::uint8_t>(t.bytes[0]) == kRestartCode) sets.push_back(t);
  }
  return sets;
}

// The blocks written since `from` log entries, read straight from the
// receiver's log file (the controller would take too long to start here).
std::vector<LoggedTransfer> SetsSince(std::size_t from) {
  std::vector<LoggedTransfer> log = ReceiverLog();
  log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(std::min(from, log.size())));
  return Sets(log);
}

bool RestartLoggedSince(std::size_t from) {
  const std::vector<LoggedTransfer> sets = SetsSince(from);
  return !sets.empty() && static_cast<std::uint8_t>(sets.back().bytes[0]) == kRestartCode;
}

// Loaded: the window shows what the receiver holds and its controls work.
bool ShowsLoaded(HWND window, const std::wstring& wifiName) {
  return ControlText(window, IDC_WIFI_NAME) == wifiName && ControlEnabled(window, IDC_APPLY) &&
         ControlEnabled(window, IDC_WIFI_NAME);
}

// Apply, the success box pressed, the blocks the receiver got, and the
// receiver back with the window loaded again.
std::vector<LoggedTransfer> ApplyAndWaitForTheReturn(ShippedProgram& program, HWND window,
                                                     const std::wstring& wifiName) {
  const std::size_t before = ReceiverLog().size();
  Click(window, IDC_APPLY);
  std::wstring text;
  const HWND box = program.WaitForBox(&text);
  EXPECT_NE(box, nullptr);
  EXPECT_EQ(text, settings::kApplySucceeded);
  if (box) Dismiss(box);
  // The restart goes out once the box is closed; until then the window still
  // shows itself loaded, so only after it does a loaded window mean that
  // the receiver came back.
  EXPECT_TRUE(test::WaitUntil([&] { return RestartLoggedSince(before); }, kLongWaitMs));
  // The receiver leaves, comes back after its restart time, and the window
  // (the same one: a restart it asked for does not replace it) loads again.
  EXPECT_TRUE(test::WaitUntil([&] { return ShowsLoaded(window, wifiName); }, kLongWaitMs));
  EXPECT_EQ(program.SettingsWindows(), std::vector<HWND>{window});
  const std::vector<LoggedTransfer> log = ReceiverLog();
  return std::vector<LoggedTransfer>(log.begin() + static_cast<std::ptrdiff_t>(std::min(before, log.size())), log.end());
}

TEST_F(ShippedProgramTest, AppliesInAutoModeAndTheReceiverRestartsAndIsReadAgain) {
  ShippedProgram program;
  ASSERT_TRUE(program.Started());
  const HWND window = program.WaitForSettingsWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return ShowsLoaded(window, L"Site-Cam-7"); }, kLongWaitMs));
  EXPECT_EQ(ControlText(window, IDC_FIRMWARE_VERSION), L"V2.4.7");
  EXPECT_EQ(ControlText(window, IDC_MODE), L"Auto");

  // A model change puts the start of that camera's network name in the
  // Wi-Fi name; the user completes it.
  SelectComboItem(window, IDC_MODEL, 1);
  ASSERT_TRUE(test::WaitUntil([&] { return ControlText(window, IDC_WIFI_NAME) != L"Site-Cam-7"; }));
  SetControlText(window, IDC_WIFI_NAME, L"Truck-12");
  SetControlText(window, IDC_WIFI_PASSWORD, L"secret-99");
  const std::vector<LoggedTransfer> sets = Sets(ApplyAndWaitForTheReturn(program, window, L"Truck-12"));

  // Exactly these blocks, in this order, 150 ms or more apart.
  ASSERT_EQ(sets.size(), 6u);
  EXPECT_EQ(PayloadText(sets[0]), sim::kCameraBUrl);
  EXPECT_EQ(PayloadText(sets[1]), "wifiname=Truck-12");
  EXPECT_EQ(PayloadText(sets[2]), "wifipassword=secret-99");
  EXPECT_EQ(PayloadText(sets[3]), "longpresstime=30");
  EXPECT_EQ(PayloadText(sets[4]), "agingtest=0");
  EXPECT_EQ(static_cast<std::uint8_t>(sets[5].bytes[0]), kRestartCode);
  for (std::size_t i = 1; i < sets.size(); ++i) EXPECT_GE(sets[i].timeMs - sets[i - 1].timeMs, 150) << i;

  const ShownReceiver held = ReceiverState();
  EXPECT_EQ(held.values.url, sim::kCameraBUrl);
  EXPECT_EQ(held.values.wifiName, "Truck-12");
  EXPECT_EQ(held.values.wifiPassword, "secret-99");
  EXPECT_TRUE(held.present);

  // The tray icon's Exit ends the program.
  ASSERT_TRUE(program.ChooseTrayExit());
  EXPECT_TRUE(program.WaitForEnd(10000));
}

TEST_F(ShippedProgramTest, AppliesTheTypedUrlInManualMode) {
  ShippedProgram program;
  const HWND window = program.WaitForSettingsWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return ShowsLoaded(window, L"Site-Cam-7"); }, kLongWaitMs));
  SelectComboItem(window, IDC_MODE, 1);
  ASSERT_TRUE(test::WaitUntil([&] { return IsWindowVisible(GetDlgItem(window, IDC_URL)) != FALSE; }));
  SetControlText(window, IDC_URL, L"rtsp://10.0.0.9/live");
  const std::vector<LoggedTransfer> sets = Sets(ApplyAndWaitForTheReturn(program, window, L"Site-Cam-7"));
  ASSERT_EQ(sets.size(), 6u);
  EXPECT_EQ(PayloadText(sets[0]), "rtsp://10.0.0.9/live");
  EXPECT_EQ(ReceiverState().values.url, "rtsp://10.0.0.9/live");
  // Read back after the restart: a URL of no known camera is Manual mode.
  EXPECT_EQ(ControlText(window, IDC_MODE), L"Manual");
  EXPECT_EQ(ControlText(window, IDC_URL), L"rtsp://10.0.0.9/live");
}

// The settings window as a careful user meets it: Enter in a field, an
// access key, a Wi-Fi name longer than a network name can be, and a stored
// URL too long for the URL edit, hidden once Auto mode is chosen.
TEST_F(ShippedProgramTest, EnterAccessKeysAndOverlongValuesAsAUserMeetsThem) {
  const std::string longUrl = "rtsp://192.168.1.200:554/streams/camera-front/main-stream.sdp";
  ASSERT_GT(longUrl.size(), 54u);
  ASSERT_EQ(RunController(L"set url " + std::wstring(longUrl.begin(), longUrl.end())), 0);
  ShippedProgram program;
  const HWND window = program.WaitForSettingsWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return ShowsLoaded(window, L"Site-Cam-7"); }, kLongWaitMs));
  EXPECT_EQ(ControlText(window, IDC_MODE), L"Manual");
  const std::size_t before = ReceiverLog().size();

  // Alt+N reaches the Wi-Fi name (pressed again until the window, which
  // may not be active yet, takes it); Enter there leaves the window as it is.
  GUITHREADINFO focus{};
  focus.cbSize = sizeof focus;
  EXPECT_TRUE(test::WaitUntil(
      [&] {
        if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &focus) &&
            focus.hwndFocus == GetDlgItem(window, IDC_WIFI_NAME)) {
          return true;
        }
        PostMessageW(window, WM_SYSCHAR, L'n', 1 << 29);
        return false;
      },
      kLongWaitMs));
  PostMessageW(GetDlgItem(window, IDC_WIFI_NAME), WM_KEYDOWN, VK_RETURN, 1);
  PostMessageW(GetDlgItem(window, IDC_WIFI_NAME), WM_KEYUP, VK_RETURN, 1u | 3u << 30);
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer), 0);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(program.WaitForEnd(0));
  EXPECT_EQ(program.Box(), nullptr);

  // Auto mode: the hidden URL edit takes no part, whatever it holds. A
  // name of 33 bytes is refused (no network has one), and nothing written.
  SelectComboItem(window, IDC_MODE, 0);
  SetControlText(window, IDC_WIFI_NAME, std::wstring(33, L'n'));
  Click(window, IDC_APPLY);
  std::wstring text;
  HWND box = program.WaitForBox(&text);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(text, L"Wifi Name is too long: it takes at most 32 bytes");
  Dismiss(box);
  ASSERT_TRUE(test::WaitUntil([&] { return !IsWindow(box); }, kLongWaitMs));
  EXPECT_TRUE(SetsSince(before).empty());

  // 32 bytes go out, with the camera model's URL.
  SetControlText(window, IDC_WIFI_NAME, std::wstring(32, L'n'));
  const std::vector<LoggedTransfer> sets = Sets(ApplyAndWaitForTheReturn(program, window, std::wstring(32, L'n')));
  ASSERT_FALSE(sets.empty());
  EXPECT_EQ(PayloadText(sets[0]), sim::kCameraAUrl);
}

TEST_F(ShippedProgramTest, UnpluggingReplacesTheWindowWhichFindsTheReceiverAgain) {
  ShippedProgram program;
  const HWND first = program.WaitForSettingsWindow();
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return ShowsLoaded(first, L"Site-Cam-7"); }, kLongWaitMs));

  ASSERT_EQ(RunController(L"unplug"), 0);
  HWND second = nullptr;
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        const std::vector<HWND> windows = program.SettingsWindows();
        second = windows.size() == 1 && windows[0] != first ? windows[0] : nullptr;
        return second != nullptr;
      },
      kLongWaitMs));
  EXPECT_FALSE(IsWindow(first));
  EXPECT_TRUE(test::WaitUntil([&] { return !ControlEnabled(second, IDC_APPLY); }));

  ASSERT_EQ(RunController(L"plug"), 0);
  EXPECT_TRUE(test::WaitUntil([&] { return ShowsLoaded(second, L"Site-Cam-7"); }, kLongWaitMs));
  EXPECT_EQ(program.SettingsWindows().size(), 1u);
}

TEST_F(ShippedProgramTest, AStormOfRemovalsLeavesOneWindowAndExitStaysQuick) {
  ShippedProgram program;
  ASSERT_NE(program.WaitForSettingsWindow(), nullptr);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(RunController(L"unplug"), 0);
    ASSERT_EQ(RunController(L"plug"), 0);
  }
  HWND window = nullptr;
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        const std::vector<HWND> windows = program.SettingsWindows();
        window = windows.size() == 1 ? windows[0] : nullptr;
        return window && ShowsLoaded(window, L"Site-Cam-7");
      },
      kLongWaitMs));
  const DWORD start = GetTickCount();
  ASSERT_TRUE(program.ChooseTrayExit());
  EXPECT_TRUE(program.WaitForEnd(10000));
  EXPECT_LT(GetTickCount() - start, 5000u);
}

bool AnySetLogged(std::size_t linesBefore) {
  std::size_t lines = 0;
  for (char c : sim::virtual_receiver::ReceiverLock().ReadLog()) lines += c == '\n';
  return lines > linesBefore;
}

// A serial port goes away, as the system tells the program's host window:
// the host replaces the settings window.
void TellOfAPortRemoval(const ShippedProgram& program) {
  DEV_BROADCAST_PORT_W port{};
  port.dbcp_size = sizeof port;
  port.dbcp_devicetype = DBT_DEVTYP_PORT;
  lstrcpyW(port.dbcp_name, L"COM7");
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(program.Host(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&port),
                      SMTO_NORMAL, 20000, &answer);
}

TEST_F(ShippedProgramTest, AnotherDevicesRemovalDuringApplyStillLetsTheWholeConfigurationOut) {
  ShippedProgram program;
  const HWND window = program.WaitForSettingsWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return ShowsLoaded(window, L"Site-Cam-7"); }, kLongWaitMs));
  SetControlText(window, IDC_WIFI_NAME, L"Yard-3");
  const std::size_t before = ReceiverLog().size();
  Click(window, IDC_APPLY);
  // As soon as the first block is out, a serial port goes away: the host
  // replaces the settings window, but not before its Apply has ended.
  ASSERT_TRUE(test::WaitUntil([&] { return AnySetLogged(before); }, kLongWaitMs));
  TellOfAPortRemoval(program);

  ASSERT_TRUE(test::WaitUntil([&] { return SetsSince(before).size() >= 6; }, kLongWaitMs));
  const std::vector<LoggedTransfer> sets = SetsSince(before);
  ASSERT_EQ(sets.size(), 6u);
  EXPECT_EQ(PayloadText(sets[1]), "wifiname=Yard-3");
  EXPECT_EQ(static_cast<std::uint8_t>(sets[5].bytes[0]), kRestartCode);
  // The window that took over finds the receiver after its restart.
  HWND current = nullptr;
  EXPECT_TRUE(test::WaitUntil(
      [&] {
        const std::vector<HWND> windows = program.SettingsWindows();
        current = windows.size() == 1 ? windows[0] : nullptr;
        return current && current != window && ShowsLoaded(current, L"Yard-3");
      },
      kLongWaitMs));
}

TEST_F(ShippedProgramTest, ExitOrAReplacementWhileTheSuccessBoxIsOpenStillSendsTheRestart) {
  // The configuration is out and the user has not closed the box yet: a
  // stop of the window then closes the box and lets the restart out, so the
  // receiver takes what was written; before, the stop's grace ran out with
  // the box open and the restart was refused.
  for (const bool exit : {true, false}) {
    SCOPED_TRACE(exit ? "tray Exit" : "another device removed");
    ShippedProgram program;
    const HWND window = program.WaitForSettingsWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(test::WaitUntil([&] { return ShowsLoaded(window, exit ? L"Site-Cam-7" : L"Gate-1"); }, kLongWaitMs));
    const std::wstring asked = exit ? L"Gate-1" : L"Gate-2";
    const std::string askedBlock = exit ? "wifiname=Gate-1" : "wifiname=Gate-2";
    SetControlText(window, IDC_WIFI_NAME, asked);
    const std::size_t before = ReceiverLog().size();
    Click(window, IDC_APPLY);
    std::wstring text;
    const HWND box = program.WaitForBox(&text);
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(text, settings::kApplySucceeded);
    ASSERT_FALSE(RestartLoggedSince(before));

    if (exit) {
      ASSERT_TRUE(program.ChooseTrayExit());
      EXPECT_TRUE(program.WaitForEnd(10000));
    } else {
      TellOfAPortRemoval(program);
    }
    EXPECT_TRUE(test::WaitUntil([&] { return RestartLoggedSince(before); }, kLongWaitMs));
    const std::vector<LoggedTransfer> sets = SetsSince(before);
    ASSERT_EQ(sets.size(), 6u);
    EXPECT_EQ(PayloadText(sets[1]), askedBlock);
    if (exit) continue;
    // One window, which finds the receiver after its restart.
    EXPECT_TRUE(test::WaitUntil(
        [&] {
          const std::vector<HWND> windows = program.SettingsWindows();
          return windows.size() == 1 && ShowsLoaded(windows[0], asked) && program.Box() == nullptr;
        },
        kLongWaitMs));
  }
}

// A visible top-level window of the program other than its settings window
// and its message boxes: the file dialog, the help veil.
HWND OtherWindow(const ShippedProgram& program, HWND settings) {
  for (HWND window : program.TopLevelWindows()) {
    if (window != settings && IsWindowVisible(window) && window != program.Box()) return window;
  }
  return nullptr;
}

TEST_F(ShippedProgramTest, CancellingTheFirmwareFileDialogAndClosingTheHelpVeilChangeNothing) {
  ShippedProgram program;
  const HWND window = program.WaitForSettingsWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return ShowsLoaded(window, L"Site-Cam-7"); }, kLongWaitMs));

  Click(window, IDC_FW_UPDATE);
  HWND dialog = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] { return (dialog = OtherWindow(program, window)) != nullptr; }, kLongWaitMs));
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(test::WaitUntil([&] { return !IsWindow(dialog); }));
  // The handler has returned once the window answers again; no box came.
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &answer), 0);
  EXPECT_EQ(program.Box(), nullptr);

  Click(window, IDC_HELP_BUTTON);
  HWND veil = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] { return (veil = OtherWindow(program, window)) != nullptr; }, kLongWaitMs));
  PostMessageW(veil, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  EXPECT_TRUE(test::WaitUntil([&] { return !IsWindow(veil) || !IsWindowVisible(veil); }));
  EXPECT_TRUE(ShowsLoaded(window, L"Site-Cam-7"));
  EXPECT_EQ(program.SettingsWindows(), std::vector<HWND>{window});
}

}  // namespace
}  // namespace nerova::app::testing
