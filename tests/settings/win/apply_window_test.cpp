// Apply in the real window under Wine, against the receiver substitute: the
// blocks the substitute receives, the real success box pressed by the test,
// the wait for the restarting receiver, and refusals told through boxes.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "settings/apply_texts.h"
#include "settings/reboot_flag.h"
#include "settings/settings_model.h"
#include "sim/sim_stack.h"
#include "tests/settings/win/dialog_runner.h"
#include "tests/ui/win_test_support.h"
#include "ui/data_exchange.h"
#include "ui/message_box.h"
#include "widgets/gdiplus_session.h"

namespace nerova::settings::win {
namespace {

using std::chrono::milliseconds;
using testing::DialogRunner;
using testing::WaitFor;

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    m_gdiplus = std::make_unique<widgets::GdiplusSession>();
  }
  void TearDown() override { m_gdiplus.reset(); }

 private:
  std::unique_ptr<widgets::GdiplusSession> m_gdiplus;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

// A message box of this process showing `text` (a dialog whose text static
// has the id 0xFFFF), or null.
HWND FindMessageBox(const std::wstring& text) {
  struct Search {
    const std::wstring* text;
    HWND found;
  } search{&text, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        wchar_t className[16] = {};
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
        if (!GetClassNameW(window, className, 16) || lstrcmpW(className, L"#32770") != 0) return TRUE;
        const HWND label = GetDlgItem(window, 0xFFFF);
        if (label && WindowText(label) == *s.text) {
          s.found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<sim::TransferRecord> Sets(const sim::SimStack& stack) {
  std::vector<sim::TransferRecord> sets;
  for (const auto& t : stack.DataTransfers()) {
    if (t.kind == sim::TransferKind::Set) sets.push_back(t);
  }
  return sets;
}

std::vector<std::uint8_t> Block(std::uint8_t code, const std::string& text) {
  std::vector<std::uint8_t> block(60, 0);
  block[0] = code;
  std::copy(text.begin(), text.end(), block.begin() + 1);
  return block;
}

sim::Device AddReceiver(sim::SimStack& stack, const std::string& url) {
  sim::Device receiver = stack.AddReceiver();
  sim::ReceiverValues values = receiver.Values();
  values.url = url;
  values.wifiName = "TAVI_5G_51C0";
  values.wifiPassword = "97531864";
  values.longPressTime = 30;
  receiver.SetValues(values);
  receiver.PinRssi(-48);
  return receiver;
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

TEST(ApplyWindow, SuccessBoxComesBeforeTheRestartAndTheReceiverIsAwaited) {
  g_bRebootExpected = false;
  sim::SimStack stack;
  sim::Device receiver = AddReceiver(stack, sim::kCameraAUrl);
  receiver.SetRebootTime(milliseconds(1500));
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg&) { return true; }); }));
  stack.ClearTransfers();

  // The other model, a new name typed into the edit, then Apply.
  const HWND model = window.Item(IDC_MODEL);
  SendMessageW(model, CB_SETCURSEL, 1, 0);
  SendMessageW(window.Window(), WM_COMMAND, MAKEWPARAM(IDC_MODEL, CBN_SELCHANGE), reinterpret_cast<LPARAM>(model));
  SetWindowTextW(window.Item(IDC_WIFI_NAME), L"TAVI-3030");
  Click(window.Item(IDC_APPLY));

  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = FindMessageBox(std::wstring(kApplySucceeded))) != nullptr; }));
  // While the box is open: every setting written, 150 ms apart, no restart yet.
  std::vector<sim::TransferRecord> sets = Sets(stack);
  ASSERT_EQ(sets.size(), 5u);
  EXPECT_EQ(sets[0].bytes, Block(0x02, "rtsp://192.168.1.100/video0"));
  EXPECT_EQ(sets[1].bytes, Block(0x04, "wifiname=TAVI-3030"));
  EXPECT_EQ(sets[2].bytes, Block(0x05, "wifipassword=24681357"));
  EXPECT_EQ(sets[3].bytes, Block(0x0D, "longpresstime=30"));
  EXPECT_EQ(sets[4].bytes, Block(0x0C, "agingtest=0"));
  for (std::size_t i = 1; i < sets.size(); ++i) {
    EXPECT_GE(sets[i].time - sets[i - 1].time, milliseconds(150)) << i;
  }
  EXPECT_FALSE(g_bRebootExpected);
  EXPECT_EQ(GetWindow(box, GW_OWNER), window.Window());

  // The user presses OK.
  Click(GetDlgItem(box, IDOK));
  ASSERT_TRUE(WaitFor([&] { return Sets(stack).size() == 6u; }));
  sets = Sets(stack);
  EXPECT_EQ(sets[5].bytes, Block(0x64, ""));
  EXPECT_GE(sets[5].time - sets[4].time, milliseconds(150));
  EXPECT_TRUE(g_bRebootExpected);
  ASSERT_TRUE(WaitFor([&] { return !window.Enabled(IDC_APPLY); }));
  EXPECT_FALSE(window.Enabled(IDC_REFRESH));
  EXPECT_FALSE(window.Enabled(IDC_WIFI_NAME));
  EXPECT_FALSE(window.Enabled(IDC_MODEL));
  EXPECT_TRUE(window.Enabled(IDC_EXIT));

  // The receiver restarts within 1.5 s; the 10 s tick finds it and loads
  // what was written.
  const auto restartSent = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitFor([&] { return window.Enabled(IDC_APPLY); }, std::chrono::seconds(40)));
  EXPECT_GE(std::chrono::steady_clock::now() - restartSent, std::chrono::seconds(9));
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg& d) { return d.Model().m_bLoaded; }); }));
  EXPECT_EQ(window.Text(IDC_WIFI_NAME), L"TAVI-3030");
  EXPECT_EQ(window.Text(IDC_MODEL), L"RD700/RC60H5");
  EXPECT_EQ(window.Text(IDC_FIRMWARE_VERSION), L"V2.4.7");
  ASSERT_TRUE(WaitFor([&] { return window.Enabled(IDC_REFRESH); }, std::chrono::seconds(20)));
  g_bRebootExpected = false;
}

TEST(ApplyWindow, AnUrlOverTheEditsLimitFailsTheReadWithBothMessages) {
  g_bRebootExpected = false;
  sim::SimStack stack;
  AddReceiver(stack, "rtsp://192.168.1.100/" + std::string(40, 'v'));
  test::CapturedBoxes boxes;
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg&) { return true; }); }));
  EXPECT_EQ(window.Text(IDC_MODE), L"Manual");
  stack.ClearTransfers();
  Click(window.Item(IDC_APPLY));
  ASSERT_TRUE(WaitFor([&] { return boxes.Texts().size() == 2; }));
  EXPECT_EQ(boxes.Texts()[0], ui::TooLongMessage(54));
  EXPECT_EQ(boxes.Texts()[1], std::wstring(kApplyFailed));
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg&) { return true; }); }));
  EXPECT_TRUE(Sets(stack).empty());
  EXPECT_TRUE(window.Enabled(IDC_APPLY));
  EXPECT_FALSE(g_bRebootExpected);
}

TEST(ApplyWindow, AnEmptyPasswordIsRefusedBeforeAnythingIsWritten) {
  g_bRebootExpected = false;
  sim::SimStack stack;
  AddReceiver(stack, sim::kCameraAUrl);
  test::CapturedBoxes boxes;
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg&) { return true; }); }));
  stack.ClearTransfers();
  SetWindowTextW(window.Item(IDC_WIFI_PASSWORD), L"   ");
  Click(window.Item(IDC_APPLY));
  ASSERT_TRUE(WaitFor([&] { return boxes.Texts().size() == 1; }));
  EXPECT_EQ(boxes.Texts()[0], std::wstring(kPasswordEmpty));
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg&) { return true; }); }));
  EXPECT_TRUE(Sets(stack).empty());
  // The edit keeps its blanks.
  EXPECT_EQ(window.Text(IDC_WIFI_PASSWORD), L"   ");
}

TEST(ApplyWindow, TextTheCodePageCannotHoldIsRefusedBeforeAnythingIsWritten) {
  // Chinese text under code page 1252 (Wine's default here) would go out as
  // "???", and a letter with a look-alike as the look-alike.
  ASSERT_EQ(GetACP(), 1252u);
  g_bRebootExpected = false;
  sim::SimStack stack;
  AddReceiver(stack, sim::kCameraAUrl);
  test::CapturedBoxes boxes;
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg&) { return true; }); }));
  stack.ClearTransfers();
  SetWindowTextW(window.Item(IDC_WIFI_NAME), L"\u6444\u50CF\u5934-5G");
  Click(window.Item(IDC_APPLY));
  ASSERT_TRUE(WaitFor([&] { return boxes.Texts().size() == 1; }));
  EXPECT_EQ(boxes.Texts()[0], NotSendableToReceiverMessage(kWifiNameField));
  SetWindowTextW(window.Item(IDC_WIFI_NAME), L"camera-5G");
  SetWindowTextW(window.Item(IDC_WIFI_PASSWORD), L"p\u0101ss");
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg&) { return true; }); }));
  Click(window.Item(IDC_APPLY));
  ASSERT_TRUE(WaitFor([&] { return boxes.Texts().size() == 2; }));
  EXPECT_EQ(boxes.Texts()[1], NotSendableToReceiverMessage(kPasswordField));
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg&) { return true; }); }));
  EXPECT_TRUE(Sets(stack).empty());
  EXPECT_FALSE(g_bRebootExpected);
}

TEST(ApplyWindow, ExitDuringTheWritesClosesTheWindowOnceTheConfigurationIsOut) {
  g_bRebootExpected = false;
  sim::SimStack stack;
  AddReceiver(stack, sim::kCameraAUrl);
  test::CapturedBoxes boxes;
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg&) { return true; }); }));
  stack.ClearTransfers();
  Click(window.Item(IDC_APPLY));
  // As soon as the first block is out, the user presses Exit.
  ASSERT_TRUE(WaitFor([&] { return !Sets(stack).empty(); }));
  Click(window.Item(IDC_EXIT));
  ASSERT_TRUE(window.Join(std::chrono::seconds(20)));
  EXPECT_EQ(window.Result(), 1);
  // Nothing is left half written: every block and the restart went out.
  const std::vector<sim::TransferRecord> sets = Sets(stack);
  ASSERT_EQ(sets.size(), 6u);
  EXPECT_EQ(sets.back().bytes[0], 0x64);
  EXPECT_TRUE(boxes.Texts().empty());
  EXPECT_TRUE(g_bRebootExpected);
}

}  // namespace
}  // namespace nerova::settings::win
