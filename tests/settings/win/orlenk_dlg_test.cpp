// The settings window in a real Win32 dialog under Wine, against the
// receiver substitute: what the user sees after start-up, the mode rows, the
// signal display and the receiver's arrival.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "resources/resource_ids.h"
#include "settings/settings_model.h"
#include "sim/sim_stack.h"
#include "tests/settings/win/dialog_runner.h"
#include "widgets/gdiplus_session.h"

namespace nerova::settings::win {
namespace {

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

constexpr int kDeviceControls[] = {IDC_MODE,          IDC_MODEL, IDC_URL,
                                   IDC_WIFI_NAME,     IDC_WIFI_PASSWORD,
                                   IDC_APPLY,         IDC_LONG_PRESS_SLIDER,
                                   IDC_AGING_TEST};

sim::Device AddReceiver(sim::SimStack& stack, const std::string& url) {
  sim::Device receiver = stack.AddReceiver();
  sim::ReceiverValues values = receiver.Values();
  values.url = url;
  values.wifiName = "TAVI_5G_4C21";
  values.wifiPassword = "97531864";
  values.longPressTime = 30;
  receiver.SetValues(values);
  return receiver;
}

std::size_t ProbeCount(const sim::SimStack& stack) {
  std::size_t n = 0;
  for (const auto& t : stack.DataTransfers()) {
    if (t.kind == sim::TransferKind::Get && !t.bytes.empty()) ++n;
  }
  return n;
}

TEST(SettingsWindow, OpensLoadedWithAStoredDefaultUrl) {
  sim::SimStack stack;
  sim::Device receiver = AddReceiver(stack, sim::kCameraBUrl);
  receiver.PinRssi(-58);
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());

  EXPECT_EQ(window.Text(IDC_MODE), L"Auto");
  EXPECT_EQ(window.Text(IDC_MODEL), L"RD700/RC60H5");
  EXPECT_EQ(window.Text(IDC_URL), L"rtsp://192.168.1.100/video0");
  EXPECT_EQ(window.Text(IDC_WIFI_NAME), L"TAVI_5G_4C21");
  EXPECT_EQ(window.Text(IDC_WIFI_PASSWORD), L"97531864");
  EXPECT_EQ(window.Text(IDC_FIRMWARE_VERSION), L"V2.4.7");
  EXPECT_EQ(window.Text(IDC_RSSI_LABEL), L"Signal Strength:");
  EXPECT_EQ(window.Text(IDC_LONG_PRESS_TEXT), L"3.0(s)");
  EXPECT_EQ(window.Text(IDC_RES_WIDTH), L"1920");
  EXPECT_EQ(window.Text(IDC_RES_HEIGHT), L"1080");
  EXPECT_EQ(SendMessageW(window.Item(IDC_LONG_PRESS_SLIDER), TBM_GETPOS, 0, 0), 30);
  EXPECT_EQ(SendMessageW(window.Item(IDC_LONG_PRESS_SLIDER), TBM_GETRANGEMIN, 0, 0), 20);
  EXPECT_EQ(SendMessageW(window.Item(IDC_LONG_PRESS_SLIDER), TBM_GETRANGEMAX, 0, 0), 200);
  EXPECT_EQ(SendMessageW(window.Item(IDC_URL), EM_GETLIMITTEXT, 0, 0), 54);
  EXPECT_EQ(SendMessageW(window.Item(IDC_WIFI_PASSWORD), EM_GETLIMITTEXT, 0, 0), 24);

  // Auto mode: the model row replaces the URL row.
  EXPECT_TRUE(window.Visible(IDC_MODEL_LABEL));
  EXPECT_TRUE(window.Visible(IDC_MODEL));
  EXPECT_FALSE(window.Visible(IDC_URL_LABEL));
  EXPECT_FALSE(window.Visible(IDC_URL));
  // The picture view, and the rows that are loaded but never shown.
  EXPECT_TRUE(window.Visible(IDC_SIGNAL_PICTURE));
  EXPECT_FALSE(window.Visible(IDC_RSSI_NUMBER));
  for (int id : {IDC_LONG_PRESS_LABEL, IDC_LONG_PRESS_SLIDER, IDC_LONG_PRESS_TEXT, IDC_AGING_TEST_LABEL,
                 IDC_AGING_TEST, IDC_SET_URL, IDC_SET_WIFI_NAME, IDC_SET_PASSWORD, IDC_SET_LONG_PRESS,
                 IDC_SET_CUR, IDC_GET_CUR, IDC_SET_RESOLUTION, IDOK, IDCANCEL, IDC_RESOLUTION_PRESET,
                 IDC_CODEC}) {
    EXPECT_FALSE(window.Visible(id)) << id;
  }
  for (int id : {IDC_REFRESH, IDC_APPLY, IDC_EXIT, IDC_FW_UPDATE, IDC_HELP_BUTTON, IDC_WIFI_NAME,
                 IDC_WIFI_PASSWORD, IDC_MODE}) {
    EXPECT_TRUE(window.Visible(id)) << id;
  }
  for (int id : kDeviceControls) EXPECT_TRUE(window.Enabled(id)) << id;
  EXPECT_TRUE(window.Enabled(IDC_REFRESH));

  EXPECT_TRUE(window.Ask([](COrlenkDlg& d) {
    return d.SignalImage() != nullptr && d.SignalImage() == d.Picture(SignalPicture::Good);
  }));
  // The combos hold their items.
  EXPECT_EQ(SendMessageW(window.Item(IDC_MODE), CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessageW(window.Item(IDC_MODEL), CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessageW(window.Item(IDC_CODEC), CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessageW(window.Item(IDC_RESOLUTION_PRESET), CB_GETCOUNT, 0, 0), 3);
}

TEST(SettingsWindow, AnyOtherUrlOpensInManualMode) {
  sim::SimStack stack;
  AddReceiver(stack, "rtsp://192.168.1.100/Video0");
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  EXPECT_EQ(window.Text(IDC_MODE), L"Manual");
  EXPECT_EQ(window.Text(IDC_URL), L"rtsp://192.168.1.100/Video0");
  EXPECT_TRUE(window.Visible(IDC_URL_LABEL));
  EXPECT_TRUE(window.Visible(IDC_URL));
  EXPECT_FALSE(window.Visible(IDC_MODEL_LABEL));
  EXPECT_FALSE(window.Visible(IDC_MODEL));
  EXPECT_EQ(window.Text(IDC_MODEL), L"RC300W");

  // Choosing Auto in the combo, as a user does.
  const HWND mode = window.Item(IDC_MODE);
  SendMessageW(mode, CB_SETCURSEL, 0, 0);
  SendMessageW(window.Window(), WM_COMMAND, MAKEWPARAM(IDC_MODE, CBN_SELCHANGE), reinterpret_cast<LPARAM>(mode));
  EXPECT_TRUE(window.Visible(IDC_MODEL));
  EXPECT_FALSE(window.Visible(IDC_URL));
  // The other model brings its defaults into the edits.
  const HWND model = window.Item(IDC_MODEL);
  SendMessageW(model, CB_SETCURSEL, 1, 0);
  SendMessageW(window.Window(), WM_COMMAND, MAKEWPARAM(IDC_MODEL, CBN_SELCHANGE), reinterpret_cast<LPARAM>(model));
  EXPECT_EQ(window.Text(IDC_WIFI_NAME), L"TAVI-");
  EXPECT_EQ(window.Text(IDC_WIFI_PASSWORD), L"24681357");
  SendMessageW(model, CB_SETCURSEL, 0, 0);
  SendMessageW(window.Window(), WM_COMMAND, MAKEWPARAM(IDC_MODEL, CBN_SELCHANGE), reinterpret_cast<LPARAM>(model));
  EXPECT_EQ(window.Text(IDC_WIFI_NAME), L"TAVI_5G_4C21");
}

TEST(SettingsWindow, SignalPictureFollowsTheReading) {
  sim::SimStack stack;
  sim::Device receiver = AddReceiver(stack, sim::kCameraAUrl);
  receiver.PinRssi(-40);
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  const struct {
    std::int32_t rssi;
    SignalPicture picture;
  } cases[] = {{-50, SignalPicture::Excellent}, {-51, SignalPicture::Good},  {-60, SignalPicture::Good},
               {-61, SignalPicture::Fair},      {-70, SignalPicture::Fair},  {-71, SignalPicture::Weak},
               {-200, SignalPicture::Weak},     {-201, SignalPicture::NoSignal}, {-1, SignalPicture::NoSignal},
               {0, SignalPicture::NoSignal},    {3, SignalPicture::Excellent}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rssi);
    receiver.PinRssi(c.rssi);
    // A poll tick, as the timer gives it; repeated if it came during an exchange.
    EXPECT_TRUE(WaitFor(
        [&] {
          return window.Idle([&](COrlenkDlg& d) {
            return d.Model().m_nRssi == c.rssi && d.SignalImage() == d.Picture(c.picture);
          });
        },
        std::chrono::seconds(20), [&] { PostMessageW(window.Window(), WM_TIMER, POLL_TIMER, 0); }));
  }
  // All five pictures were loaded and differ.
  EXPECT_TRUE(window.Ask([](COrlenkDlg& d) {
    const Gdiplus::Image* all[] = {d.Picture(SignalPicture::NoSignal), d.Picture(SignalPicture::Excellent),
                                   d.Picture(SignalPicture::Good), d.Picture(SignalPicture::Fair),
                                   d.Picture(SignalPicture::Weak)};
    for (const Gdiplus::Image* image : all) {
      if (!image || const_cast<Gdiplus::Image*>(image)->GetWidth() != 48) return false;
    }
    return true;
  }));
}

TEST(SettingsWindow, LabelClickSwitchesBetweenPictureAndNumber) {
  sim::SimStack stack;
  sim::Device receiver = AddReceiver(stack, sim::kCameraAUrl);
  receiver.PinRssi(-63);
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  const HWND label = window.Item(IDC_RSSI_LABEL);
  auto click = [&] {
    PostMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    PostMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  };
  click();
  ASSERT_TRUE(WaitFor([&] { return window.Text(IDC_RSSI_LABEL) == L"RSSI:"; }));
  EXPECT_TRUE(window.Visible(IDC_RSSI_NUMBER));
  EXPECT_FALSE(window.Visible(IDC_SIGNAL_PICTURE));
  EXPECT_EQ(window.Text(IDC_RSSI_NUMBER), L"-63");
  click();
  ASSERT_TRUE(WaitFor([&] { return window.Text(IDC_RSSI_LABEL) == L"Signal Strength:"; }));
  EXPECT_FALSE(window.Visible(IDC_RSSI_NUMBER));
  EXPECT_TRUE(window.Visible(IDC_SIGNAL_PICTURE));
}

TEST(SettingsWindow, SliderTextChangesWhenTheKeyIsReleased) {
  sim::SimStack stack;
  AddReceiver(stack, sim::kCameraAUrl);
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  const HWND slider = window.Item(IDC_LONG_PRESS_SLIDER);
  EXPECT_EQ(window.Text(IDC_LONG_PRESS_TEXT), L"3.0(s)");
  SendMessageW(slider, WM_KEYDOWN, VK_RIGHT, 0);
  EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 31);
  EXPECT_EQ(window.Text(IDC_LONG_PRESS_TEXT), L"3.0(s)");
  SendMessageW(slider, WM_KEYUP, VK_RIGHT, 0);
  EXPECT_EQ(window.Text(IDC_LONG_PRESS_TEXT), L"3.1(s)");
  SendMessageW(slider, WM_KEYDOWN, VK_END, 0);
  SendMessageW(slider, WM_KEYUP, VK_END, 0);
  EXPECT_EQ(window.Text(IDC_LONG_PRESS_TEXT), L"20.0(s)");
  SendMessageW(slider, WM_KEYDOWN, VK_HOME, 0);
  SendMessageW(slider, WM_KEYUP, VK_HOME, 0);
  EXPECT_EQ(window.Text(IDC_LONG_PRESS_TEXT), L"2.0(s)");
}

TEST(SettingsWindow, WithoutReceiverThenArrivalOnTheTimer) {
  sim::SimStack stack;
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  for (int id : kDeviceControls) EXPECT_FALSE(window.Enabled(id)) << id;
  EXPECT_TRUE(window.Enabled(IDC_REFRESH));
  EXPECT_TRUE(window.Enabled(IDC_EXIT));
  EXPECT_TRUE(window.Enabled(IDC_FW_UPDATE));
  EXPECT_TRUE(window.Enabled(IDC_HELP_BUTTON));
  EXPECT_EQ(window.Text(IDC_FIRMWARE_VERSION), L"");
  EXPECT_EQ(window.Text(IDC_RES_WIDTH), L"0");
  EXPECT_EQ(window.Text(IDC_RES_HEIGHT), L"0");
  EXPECT_TRUE(window.Ask([](COrlenkDlg& d) { return d.SignalImage() == d.Picture(SignalPicture::NoSignal); }));
  // One row for the mode, not two labels on top of each other.
  EXPECT_NE(window.Visible(IDC_URL_LABEL), window.Visible(IDC_MODEL_LABEL));

  // The first tick without a receiver disables Refresh.
  EXPECT_TRUE(WaitFor([&] { return !window.Enabled(IDC_REFRESH); }, std::chrono::seconds(20)));

  sim::Device receiver = AddReceiver(stack, sim::kCameraAUrl);
  receiver.PinRssi(-66);
  // The poll timer finds it within one period and loads everything.
  ASSERT_TRUE(WaitFor([&] { return window.Text(IDC_FIRMWARE_VERSION) == L"V2.4.7"; }, std::chrono::seconds(20)));
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg& d) { return d.Model().m_bLoaded; }); }));
  for (int id : kDeviceControls) EXPECT_TRUE(window.Enabled(id)) << id;
  EXPECT_TRUE(WaitFor([&] { return window.Enabled(IDC_REFRESH); }));
  EXPECT_EQ(window.Text(IDC_WIFI_NAME), L"TAVI_5G_4C21");
  EXPECT_EQ(window.Text(IDC_MODEL), L"RC300W");
  EXPECT_TRUE(window.Ask([](COrlenkDlg& d) {
    return d.Model().m_strFirstModel == L"RC300W" && d.Model().m_strFirstWifiName == L"TAVI_5G_4C21";
  }));
  EXPECT_TRUE(window.Ask([](COrlenkDlg& d) { return d.SignalImage() == d.Picture(SignalPicture::Fair); }));
}

TEST(SettingsWindow, RefreshKeepsWhatWasTyped) {
  sim::SimStack stack;
  sim::Device receiver = AddReceiver(stack, sim::kCameraAUrl);
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  SetWindowTextW(window.Item(IDC_WIFI_NAME), L"typed, not applied");
  sim::ReceiverValues values = receiver.Values();
  values.wifiName = "changed on the receiver";
  receiver.SetValues(values);
  const std::size_t before = ProbeCount(stack);
  PostMessageW(window.Item(IDC_REFRESH), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] {
    return window.Idle([&](COrlenkDlg&) { return ProbeCount(stack) > before; });
  }));
  EXPECT_EQ(window.Text(IDC_WIFI_NAME), L"typed, not applied");
  EXPECT_EQ(window.Text(IDC_FIRMWARE_VERSION), L"V2.4.7");
}

TEST(SettingsWindow, CloseEndsTheModalRunAndReleasesTheReceiver) {
  sim::SimStack stack;
  AddReceiver(stack, sim::kCameraAUrl);
  {
    DialogRunner window(stack);
    ASSERT_TRUE(window.Started());
    EXPECT_GT(stack.OpenDevices(), 0);
    PostMessageW(window.Window(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(window.Join(std::chrono::seconds(20)));
    EXPECT_EQ(window.Result(), IDCANCEL);
  }
  EXPECT_EQ(stack.OpenDevices(), 0);
}

}  // namespace
}  // namespace nerova::settings::win
