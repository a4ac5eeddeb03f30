// The settings window's model against the receiver substitute, with a window
// made of maps and a pump that moves a manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/exchange_gate.h"
#include "link/receiver_link.h"
#include "link/utf8_codec.h"
#include "resources/resource_ids.h"
#include "settings/settings_model.h"
#include "sim/pumps.h"
#include "sim/sim_stack.h"
#include "tests/settings/fake_settings_view.h"

namespace nerova::settings {
namespace {

using testing::FakeSettingsView;

constexpr wchar_t kUrlA[] = L"rtsp://192.168.1.200/video1.sdp";
constexpr wchar_t kUrlB[] = L"rtsp://192.168.1.100/video0";

class SettingsModelTest : public ::testing::Test {
 protected:
  SettingsModelTest() { view.model = &model; }

  // The window as it opens: initialised, then its first load once shown.
  static void Start(SettingsModel& opened) {
    opened.OnInitDialog();
    opened.OnTimer(STARTUP_TIMER);
  }
  void Start() { Start(model); }

  sim::Device AddReceiver(const std::string& url = sim::kCameraAUrl) {
    sim::Device device = stack.AddReceiver();
    sim::ReceiverValues values = device.Values();
    values.url = url;
    device.SetValues(values);
    return device;
  }
  void SetValue(sim::Device& device, void (*change)(sim::ReceiverValues&)) {
    sim::ReceiverValues values = device.Values();
    change(values);
    device.SetValues(values);
  }
  // Commands of the settings control the substitute saw, in order.
  std::vector<std::uint8_t> Commands(sim::TransferKind kind) const {
    std::vector<std::uint8_t> codes;
    for (const auto& t : stack.DataTransfers()) {
      if (t.kind == kind && !t.bytes.empty()) codes.push_back(t.bytes[0]);
    }
    return codes;
  }
  void ExpectRowsOfMode(bool autoMode) {
    EXPECT_EQ(view.IsVisible(IDC_URL_LABEL), !autoMode);
    EXPECT_EQ(view.IsVisible(IDC_URL), !autoMode);
    EXPECT_EQ(view.IsVisible(IDC_MODEL_LABEL), autoMode);
    EXPECT_EQ(view.IsVisible(IDC_MODEL), autoMode);
  }

  std::shared_ptr<sim::ManualClock> clock = std::make_shared<sim::ManualClock>();
  sim::SimStack stack{clock};
  sim::FakePump pump{*clock};
  link::Utf8Codec codec;
  link::Receiver receiving{stack, pump, codec};
  FakeSettingsView view;
  SettingsModel model{view, receiving, pump};
};

TEST_F(SettingsModelTest, StartWithReceiverLoadsEverything) {
  sim::Device receiver = AddReceiver();
  SetValue(receiver, [](sim::ReceiverValues& v) {
    v.wifiName = "TAVI_5G_77AB01";
    v.wifiPassword = "11223344";
    v.longPressTime = 35;
    v.agingTest = 1;
    v.width = 1280;
    v.height = 720;
  });
  receiver.PinRssi(-63);
  Start();

  EXPECT_TRUE(model.m_bLoaded);
  EXPECT_TRUE(model.m_bDevicePresent);
  EXPECT_EQ(model.m_strMode, L"Auto");
  EXPECT_EQ(model.m_strModel, L"RC300W");
  EXPECT_EQ(model.m_strUrl, kUrlA);
  EXPECT_EQ(view.texts[IDC_MODE], L"Auto");
  EXPECT_EQ(view.texts[IDC_MODEL], L"RC300W");
  EXPECT_EQ(view.texts[IDC_URL], kUrlA);
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"TAVI_5G_77AB01");
  EXPECT_EQ(view.texts[IDC_WIFI_PASSWORD], L"11223344");
  EXPECT_EQ(view.texts[IDC_FIRMWARE_VERSION], L"V2.4.7");
  EXPECT_EQ(view.texts[IDC_RES_WIDTH], L"1280");
  EXPECT_EQ(view.texts[IDC_RES_HEIGHT], L"720");
  EXPECT_EQ(view.slider, 35);
  EXPECT_EQ(view.texts[IDC_LONG_PRESS_TEXT], L"3.5(s)");
  EXPECT_TRUE(view.IsChecked(IDC_AGING_TEST));
  EXPECT_EQ(model.m_nRssi, -63);
  EXPECT_EQ(view.picture, SignalPicture::Fair);
  ExpectRowsOfMode(true);

  EXPECT_EQ(view.caption, L"Nerova Wireless Receiver Setting V1.1");
  EXPECT_EQ(view.texts[IDC_RSSI_LABEL], L"Signal Strength:");
  EXPECT_FALSE(view.IsVisible(IDC_RSSI_NUMBER));
  EXPECT_TRUE(view.IsVisible(IDC_SIGNAL_PICTURE));
  for (int id : {IDC_LONG_PRESS_LABEL, IDC_LONG_PRESS_SLIDER, IDC_LONG_PRESS_TEXT, IDC_AGING_TEST_LABEL,
                 IDC_AGING_TEST}) {
    EXPECT_FALSE(view.IsVisible(id)) << id;
  }
  for (int id : {IDC_MODE, IDC_MODEL, IDC_URL, IDC_WIFI_NAME, IDC_WIFI_PASSWORD, IDC_APPLY,
                 IDC_LONG_PRESS_SLIDER, IDC_AGING_TEST, IDC_REFRESH}) {
    EXPECT_TRUE(view.IsEnabled(id)) << id;
  }
  EXPECT_EQ(view.TimerPeriod(POLL_TIMER), kPollPeriodMs);

  EXPECT_EQ(model.m_strFirstModel, L"RC300W");
  EXPECT_EQ(model.m_strFirstWifiName, L"TAVI_5G_77AB01");
  EXPECT_EQ(model.m_strFirstWifiPassword, L"11223344");
  // Reads, 10 ms apart: probe, version, URL, name, password, RSSI,
  // resolution, long press, aging test; then the start-up probe again.
  EXPECT_EQ(Commands(sim::TransferKind::Set),
            (std::vector<std::uint8_t>{0x00, 0x00, 0x66, 0x02, 0x04, 0x05, 0x65, 0x06, 0x0D, 0x0C, 0x00}));
  EXPECT_EQ(std::count(pump.Waits().begin(), pump.Waits().end(), kReadPauseMs), 6);
}

TEST_F(SettingsModelTest, StoredUrlDecidesModeAndModel) {
  struct Case {
    std::string stored;
    const wchar_t* mode;
    const wchar_t* model;
  };
  const Case cases[] = {
      {sim::kCameraAUrl, L"Auto", L"RC300W"},
      {sim::kCameraBUrl, L"Auto", L"RD700/RC60H5"},
      {"RTSP://192.168.1.100/video0", L"Manual", L"RC300W"},
      {"rtsp://192.168.1.100/Video0", L"Manual", L"RC300W"},
      {"rtsp://192.168.1.200/video1.sdp ", L"Manual", L"RC300W"},
      {"rtsp://192.168.1.100/video0?x=1", L"Manual", L"RC300W"},
      {"rtsp://10.0.0.5/live", L"Manual", L"RC300W"},
      {"", L"Manual", L"RC300W"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    std::shared_ptr<sim::ManualClock> ownClock = std::make_shared<sim::ManualClock>();
    sim::SimStack ownStack{ownClock};
    sim::FakePump ownPump{*ownClock};
    link::Receiver ownReceiver{ownStack, ownPump, codec};
    FakeSettingsView ownView;
    SettingsModel ownModel{ownView, ownReceiver, ownPump};
    ownView.model = &ownModel;
    sim::Device receiver = ownStack.AddReceiver();
    sim::ReceiverValues values = receiver.Values();
    values.url = c.stored;
    values.wifiName = "CAM-1";
    values.wifiPassword = "secret12";
    receiver.SetValues(values);

    Start(ownModel);
    EXPECT_EQ(ownModel.m_strMode, c.mode);
    EXPECT_EQ(ownModel.m_strModel, c.model);
    EXPECT_EQ(ownView.texts[IDC_URL], std::wstring(c.stored.begin(), c.stored.end()));
    const bool autoMode = std::wstring(c.mode) == L"Auto";
    EXPECT_EQ(ownView.IsVisible(IDC_URL), !autoMode);
    EXPECT_EQ(ownView.IsVisible(IDC_URL_LABEL), !autoMode);
    EXPECT_EQ(ownView.IsVisible(IDC_MODEL), autoMode);
    EXPECT_EQ(ownView.IsVisible(IDC_MODEL_LABEL), autoMode);
    EXPECT_EQ(ownView.texts[IDC_MODE], c.mode);
    // The snapshot pairs the model as loaded with the stored name and password.
    EXPECT_EQ(ownModel.m_strFirstModel, c.model);
    EXPECT_EQ(ownModel.m_strFirstWifiName, L"CAM-1");
    EXPECT_EQ(ownModel.m_strFirstWifiPassword, L"secret12");
  }
}

TEST_F(SettingsModelTest, ModelChangeRules) {
  sim::Device receiver = AddReceiver();
  SetValue(receiver, [](sim::ReceiverValues& v) {
    v.wifiName = "TAVI_5G_0001";
    v.wifiPassword = "00000001";
  });
  Start();

  // The model already selected: nothing changes, not even a typed edit.
  view.Type(IDC_WIFI_NAME, L"typed");
  const int exchanges = view.exchanges;
  view.Pick(IDC_MODEL, L"RC300W");
  model.Submit(SettingsModel::Command::SelchangeModel);
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"typed");
  EXPECT_EQ(view.exchanges, exchanges);

  // Not one of the models: nothing either.
  view.Pick(IDC_MODEL, L"RC300");
  model.Submit(SettingsModel::Command::SelchangeModel);
  EXPECT_EQ(model.m_strModel, L"RC300W");
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"typed");

  // Another model: its defaults, and the typed text is replaced.
  view.Pick(IDC_MODEL, L"RD700/RC60H5");
  model.Submit(SettingsModel::Command::SelchangeModel);
  EXPECT_EQ(model.m_strModel, L"RD700/RC60H5");
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"TAVI-");
  EXPECT_EQ(view.texts[IDC_WIFI_PASSWORD], L"24681357");
  EXPECT_EQ(view.texts[IDC_MODEL], L"RD700/RC60H5");

  // Back to the first-loaded model: the values of the first load.
  view.Pick(IDC_MODEL, L"RC300W");
  model.Submit(SettingsModel::Command::SelchangeModel);
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"TAVI_5G_0001");
  EXPECT_EQ(view.texts[IDC_WIFI_PASSWORD], L"00000001");

  // The snapshot is never replaced by later loads.
  SetValue(receiver, [](sim::ReceiverValues& v) {
    v.url = sim::kCameraBUrl;
    v.wifiName = "TAVI-9";
    v.wifiPassword = "99999999";
  });
  // As after a restart of the receiver: marked absent, found again by a tick.
  model.m_bLoaded = false;
  model.m_bDevicePresent = false;
  model.OnTimer(POLL_TIMER);
  ASSERT_TRUE(model.m_bLoaded);
  EXPECT_EQ(model.m_strModel, L"RD700/RC60H5");
  EXPECT_EQ(model.m_strFirstModel, L"RC300W");
  EXPECT_EQ(model.m_strFirstWifiName, L"TAVI_5G_0001");
  view.Pick(IDC_MODEL, L"RC300W");
  model.Submit(SettingsModel::Command::SelchangeModel);
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"TAVI_5G_0001");
  EXPECT_EQ(view.texts[IDC_WIFI_PASSWORD], L"00000001");
}

TEST_F(SettingsModelTest, ModeChangeSwitchesRowsOnly) {
  AddReceiver();
  Start();
  ExpectRowsOfMode(true);
  view.Pick(IDC_MODE, L"Manual");
  model.Submit(SettingsModel::Command::SelchangeMode);
  EXPECT_EQ(model.m_strMode, L"Manual");
  ExpectRowsOfMode(false);
  EXPECT_EQ(model.m_strUrl, kUrlA);
  view.Pick(IDC_MODE, L"Auto");
  model.Submit(SettingsModel::Command::SelchangeMode);
  EXPECT_EQ(model.m_strMode, L"Auto");
  ExpectRowsOfMode(true);
  // Any text but "Auto" means Manual.
  view.Pick(IDC_MODE, L"auto");
  model.Submit(SettingsModel::Command::SelchangeMode);
  EXPECT_EQ(model.m_strMode, L"Manual");
  ExpectRowsOfMode(false);
}

TEST_F(SettingsModelTest, NoReceiverAtStartThenArrivalOnATick) {
  Start();
  EXPECT_FALSE(model.m_bLoaded);
  EXPECT_FALSE(model.m_bDevicePresent);
  for (int id : {IDC_MODE, IDC_MODEL, IDC_URL, IDC_WIFI_NAME, IDC_WIFI_PASSWORD, IDC_APPLY,
                 IDC_LONG_PRESS_SLIDER, IDC_AGING_TEST}) {
    EXPECT_FALSE(view.IsEnabled(id)) << id;
  }
  const std::vector<int> order{IDC_MODE,      IDC_MODEL, IDC_URL, IDC_WIFI_NAME, IDC_WIFI_PASSWORD,
                               IDC_APPLY,     IDC_LONG_PRESS_SLIDER, IDC_AGING_TEST};
  ASSERT_GE(view.enableCalls.size(), order.size());
  EXPECT_EQ(std::vector<int>(view.enableCalls.begin(), view.enableCalls.begin() + 8), order);
  // Refresh, Exit, FW Update and "?" stay usable.
  EXPECT_TRUE(view.IsEnabled(IDC_REFRESH));
  EXPECT_TRUE(view.IsEnabled(IDC_EXIT));
  EXPECT_EQ(view.texts[IDC_FIRMWARE_VERSION], L"");
  EXPECT_EQ(view.texts[IDC_RES_WIDTH], L"0");
  EXPECT_EQ(view.texts[IDC_RES_HEIGHT], L"0");
  EXPECT_EQ(view.picture, SignalPicture::NoSignal);
  EXPECT_EQ(view.TimerPeriod(POLL_TIMER), kPollPeriodMs);
  EXPECT_TRUE(model.m_strFirstModel.empty());
  // The rows and combos follow the initial Auto mode rather than showing
  // both row labels on top of each other.
  ExpectRowsOfMode(true);
  EXPECT_EQ(view.texts[IDC_MODE], L"Auto");
  EXPECT_EQ(view.texts[IDC_MODEL], L"RC300W");

  // A tick without a receiver keeps probing and disables Refresh.
  model.OnTimer(POLL_TIMER);
  EXPECT_FALSE(view.IsEnabled(IDC_REFRESH));
  EXPECT_TRUE(Commands(sim::TransferKind::Set).empty());

  sim::Device receiver = AddReceiver(sim::kCameraBUrl);
  SetValue(receiver, [](sim::ReceiverValues& v) {
    v.wifiName = "TAVI-4411";
    v.wifiPassword = "24681357";
    v.longPressTime = 5;
  });
  receiver.PinRssi(-45);
  view.timerLog.clear();
  model.OnTimer(POLL_TIMER);
  EXPECT_TRUE(model.m_bLoaded);
  EXPECT_TRUE(model.m_bDevicePresent);
  EXPECT_TRUE(view.IsEnabled(IDC_REFRESH));
  for (int id : order) EXPECT_TRUE(view.IsEnabled(id)) << id;
  EXPECT_EQ(model.m_strModel, L"RD700/RC60H5");
  ExpectRowsOfMode(true);
  // The timer was stopped for the load and started again.
  EXPECT_EQ(view.timerLog, (std::vector<int>{0, static_cast<int>(kPollPeriodMs)}));
  // The snapshot comes from this first load.
  EXPECT_EQ(model.m_strFirstModel, L"RD700/RC60H5");
  EXPECT_EQ(model.m_strFirstWifiName, L"TAVI-4411");
  // A long-press time below the slider's range lands on its lower bound.
  EXPECT_EQ(view.slider, 20);
  EXPECT_EQ(view.texts[IDC_LONG_PRESS_TEXT], L"2.0(s)");
  EXPECT_EQ(view.picture, SignalPicture::Excellent);
}

TEST_F(SettingsModelTest, LongPressAboveRangeLandsOnUpperBound) {
  sim::Device receiver = AddReceiver();
  SetValue(receiver, [](sim::ReceiverValues& v) { v.longPressTime = 500; });
  Start();
  EXPECT_EQ(view.slider, 200);
  EXPECT_EQ(view.texts[IDC_LONG_PRESS_TEXT], L"20.0(s)");
}

TEST_F(SettingsModelTest, SignalPictureForEachReading) {
  sim::Device receiver = AddReceiver();
  Start();
  struct Case {
    std::int32_t rssi;
    SignalPicture picture;
    const wchar_t* number;
  };
  const Case cases[] = {
      {-50, SignalPicture::Excellent, L"-50"}, {-51, SignalPicture::Good, L"-51"},
      {-60, SignalPicture::Good, L"-60"},      {-61, SignalPicture::Fair, L"-61"},
      {-70, SignalPicture::Fair, L"-70"},      {-71, SignalPicture::Weak, L"-71"},
      {-200, SignalPicture::Weak, L"-200"},    {-201, SignalPicture::NoSignal, L""},
      {-1, SignalPicture::NoSignal, L""},      {0, SignalPicture::NoSignal, L""},
      {3, SignalPicture::Excellent, L"3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rssi);
    receiver.PinRssi(c.rssi);
    model.OnTimer(POLL_TIMER);
    EXPECT_EQ(model.m_nRssi, c.rssi);
    EXPECT_EQ(view.picture, c.picture);
    EXPECT_TRUE(view.IsVisible(IDC_SIGNAL_PICTURE));
    EXPECT_FALSE(view.IsVisible(IDC_RSSI_NUMBER));
    // The number view of the same reading.
    model.Submit(SettingsModel::Command::SwitchSignalView);
    EXPECT_EQ(view.texts[IDC_RSSI_NUMBER], c.number);
    EXPECT_TRUE(view.IsVisible(IDC_RSSI_NUMBER));
    EXPECT_FALSE(view.IsVisible(IDC_SIGNAL_PICTURE));
    model.Submit(SettingsModel::Command::SwitchSignalView);
  }
  // A failed read is no reading: -10000.
  receiver.RefuseGets(link::CMD_RSSI);
  model.OnTimer(POLL_TIMER);
  EXPECT_EQ(model.m_nRssi, link::kRssiFailed);
  EXPECT_EQ(view.picture, SignalPicture::NoSignal);
  // A tick while present never probes.
  EXPECT_TRUE(model.m_bDevicePresent);
}

TEST_F(SettingsModelTest, TwoLabelClicksBringThePictureBack) {
  sim::Device receiver = AddReceiver();
  receiver.PinRssi(-55);
  Start();
  model.Submit(SettingsModel::Command::SwitchSignalView);
  EXPECT_EQ(model.m_nSignalView, 0);
  EXPECT_EQ(view.texts[IDC_RSSI_LABEL], L"RSSI:");
  EXPECT_EQ(view.texts[IDC_RSSI_NUMBER], L"-55");
  EXPECT_TRUE(view.IsVisible(IDC_RSSI_NUMBER));
  EXPECT_FALSE(view.IsVisible(IDC_SIGNAL_PICTURE));
  model.Submit(SettingsModel::Command::SwitchSignalView);
  EXPECT_EQ(model.m_nSignalView, 1);
  EXPECT_EQ(view.texts[IDC_RSSI_LABEL], L"Signal Strength:");
  EXPECT_FALSE(view.IsVisible(IDC_RSSI_NUMBER));
  EXPECT_TRUE(view.IsVisible(IDC_SIGNAL_PICTURE));
  EXPECT_EQ(view.picture, SignalPicture::Good);
  EXPECT_EQ(std::count(view.invalidated.begin(), view.invalidated.end(), IDC_SIGNAL_PICTURE), 2);
  // Any value other than 1 counts as the number view.
  model.m_nSignalView = 7;
  model.Submit(SettingsModel::Command::SwitchSignalView);
  EXPECT_EQ(model.m_nSignalView, 1);
}

TEST_F(SettingsModelTest, RefreshWhileLoadedOnlyProbes) {
  sim::Device receiver = AddReceiver();
  Start();
  view.Type(IDC_WIFI_NAME, L"typed but not applied");
  SetValue(receiver, [](sim::ReceiverValues& v) { v.wifiName = "changed elsewhere"; });
  stack.ClearTransfers();
  view.timerLog.clear();
  model.Submit(SettingsModel::Command::Refresh);
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"typed but not applied");
  EXPECT_EQ(Commands(sim::TransferKind::Set), (std::vector<std::uint8_t>{0x00}));
  EXPECT_EQ(view.timerLog, (std::vector<int>{0, static_cast<int>(kPollPeriodMs)}));

  // Unplugged: the probe fails, the reading and the version go, the flags stay.
  receiver.Unplug();
  model.Submit(SettingsModel::Command::Refresh);
  EXPECT_TRUE(model.m_bLoaded);
  EXPECT_TRUE(model.m_bDevicePresent);
  EXPECT_EQ(model.m_nRssi, 0);
  EXPECT_EQ(view.texts[IDC_FIRMWARE_VERSION], L"");
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"typed but not applied");
}

TEST_F(SettingsModelTest, SliderTextFollowsTheThumbOnlyFromTheSlider) {
  AddReceiver();
  Start();
  view.slider = 24;
  model.OnHScroll(5, IDC_LONG_PRESS_SLIDER);
  EXPECT_EQ(view.texts[IDC_LONG_PRESS_TEXT], L"2.4(s)");
  view.slider = 200;
  model.OnHScroll(0, IDC_LONG_PRESS_SLIDER);  // a line step: the text waits for the end notice
  EXPECT_EQ(view.texts[IDC_LONG_PRESS_TEXT], L"2.4(s)");
  model.OnHScroll(8, IDC_LONG_PRESS_SLIDER);
  EXPECT_EQ(view.texts[IDC_LONG_PRESS_TEXT], L"20.0(s)");
  view.slider = 20;
  model.OnHScroll(8, IDC_MODE);
  EXPECT_EQ(view.texts[IDC_LONG_PRESS_TEXT], L"20.0(s)");
  model.OnHScroll(8, IDC_LONG_PRESS_SLIDER);
  EXPECT_EQ(view.texts[IDC_LONG_PRESS_TEXT], L"2.0(s)");
  // Other timers are not ours.
  EXPECT_FALSE(model.OnTimer(1));
}

// Every read is a SET of the code alone followed by its GET; nothing may come
// between them.
void ExpectReadsDoNotInterleave(const std::vector<sim::TransferRecord>& transfers) {
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    if (transfers[i].kind != sim::TransferKind::Set) continue;
    ASSERT_LT(i + 1, transfers.size());
    EXPECT_EQ(transfers[i + 1].kind, sim::TransferKind::Get) << "after transfer " << i;
  }
}

TEST_F(SettingsModelTest, CommandsDuringAnExchangeWaitForItsEnd) {
  sim::Device receiver = AddReceiver();
  receiver.PinRssi(-52);
  Start();
  stack.ClearTransfers();

  // Unplugged and back: the next tick loads again. While the first read of
  // that load waits for its answer, the user presses Refresh and a tick comes.
  model.m_bDevicePresent = false;
  model.m_bLoaded = false;
  bool ranDuringWait = false;
  pump.DuringNextWait([&] {
    ranDuringWait = true;
    EXPECT_TRUE(model.InExchange());
    model.Submit(SettingsModel::Command::Refresh);
    model.OnTimer(POLL_TIMER);
    model.Submit(SettingsModel::Command::Refresh);
    // Nothing ran yet: the window still holds what it had.
    EXPECT_EQ(view.texts[IDC_FIRMWARE_VERSION], L"V2.4.7");
  });
  view.timerLog.clear();
  model.OnTimer(POLL_TIMER);
  ASSERT_TRUE(ranDuringWait);
  EXPECT_FALSE(model.InExchange());

  EXPECT_TRUE(model.m_bLoaded);
  EXPECT_TRUE(model.m_bDevicePresent);
  EXPECT_EQ(view.texts[IDC_FIRMWARE_VERSION], L"V2.4.7");
  EXPECT_EQ(model.m_nRssi, -52);
  ExpectReadsDoNotInterleave(stack.DataTransfers());
  // The tick's load (probe twice, then the settings), its RSSI read, then one
  // Refresh (both presses asked for the same thing), which only probes; the
  // tick asked for during the wait was dropped.
  EXPECT_EQ(Commands(sim::TransferKind::Set),
            (std::vector<std::uint8_t>{0x00, 0x00, 0x66, 0x02, 0x04, 0x05, 0x65, 0x06, 0x0D, 0x0C, 0x65, 0x00}));
  EXPECT_EQ(view.timerLog, (std::vector<int>{0, static_cast<int>(kPollPeriodMs), 0,
                                             static_cast<int>(kPollPeriodMs)}));
}

TEST_F(SettingsModelTest, RefreshDuringAReadingDoesNotLoseTheReceiver) {
  sim::Device receiver = AddReceiver();
  receiver.PinRssi(-65);
  Start();
  stack.ClearTransfers();
  // The RSSI read of a tick waits 100 ms for its answer; a Refresh pressed
  // meanwhile would otherwise find the command block busy and take the
  // receiver for gone.
  pump.DuringNextWait([&] { model.Submit(SettingsModel::Command::Refresh); });
  model.OnTimer(POLL_TIMER);
  EXPECT_EQ(model.m_nRssi, -65);
  EXPECT_EQ(view.texts[IDC_FIRMWARE_VERSION], L"V2.4.7");
  EXPECT_TRUE(model.m_bDevicePresent);
  EXPECT_EQ(Commands(sim::TransferKind::Set), (std::vector<std::uint8_t>{0x65, 0x00}));
  ExpectReadsDoNotInterleave(stack.DataTransfers());
}

TEST_F(SettingsModelTest, TeardownDropsTheCachedReceiver) {
  AddReceiver();
  Start();
  EXPECT_NE(model.m_settings.Device(), nullptr);
  EXPECT_GT(stack.OpenDevices(), 0);
  model.OnDestroy();
  EXPECT_EQ(model.m_settings.Device(), nullptr);
  EXPECT_EQ(stack.OpenDevices(), 0);
}

// A gate held by the window this one replaces, until the test lets go. An
// exchange waits for it as the settings thread's gate does: pumping, for up
// to five seconds, unless given up.
class HeldGate final : public link::ExchangeGate {
 public:
  explicit HeldGate(link::MessagePump& pump) : m_pump(pump) {}
  link::LinkStatus Run(const std::function<link::LinkStatus()>& exchange) override {
    for (int waited = 0; held && !givenUp && waited < 5000; waited += 20) m_pump.PumpWait(20);
    if (held || givenUp) return link::LinkStatus::Of(link::StatusKind::Gone);
    return exchange();
  }
  void HoldForWholeSequence(bool) override {}
  void ReserveLastExchange() override {}
  bool StopRequested() const override { return false; }
  void GiveUp() override { givenUp = true; }
  bool held = true;
  bool givenUp = false;

 private:
  link::MessagePump& m_pump;
};

// A new window whose first load waits for the window it replaces.
class DeferredLoad : public ::testing::Test {
 protected:
  DeferredLoad() {
    view.model = &model;
    stack.AddReceiver();
  }

  std::shared_ptr<sim::ManualClock> clock = std::make_shared<sim::ManualClock>();
  sim::SimStack stack{clock};
  sim::FakePump pump{*clock};
  link::Utf8Codec codec;
  HeldGate gate{pump};
  link::Receiver receiving{stack, pump, codec, gate};
  FakeSettingsView view;
  SettingsModel model{view, receiving, pump};
};

TEST_F(DeferredLoad, ControlsStayDisabledAndWritesAskedForBeforeTheLoadAreDropped) {
  model.OnInitDialog();
  for (int id : {IDC_MODE, IDC_MODEL, IDC_WIFI_NAME, IDC_WIFI_PASSWORD, IDC_APPLY}) {
    EXPECT_FALSE(view.IsEnabled(id)) << id;
  }
  gate.held = false;
  pump.DuringNextWait([&] {
    view.Type(IDC_WIFI_NAME, L"typed-before-the-load");
    model.Submit(SettingsModel::Command::Apply);
    model.Submit(SettingsModel::Command::SetWifiName);
  });
  stack.ClearTransfers();
  model.OnTimer(STARTUP_TIMER);

  EXPECT_TRUE(model.m_bLoaded);
  EXPECT_TRUE(view.messages.empty());
  for (const auto& t : stack.DataTransfers()) {
    if (t.kind != sim::TransferKind::Set) continue;
    EXPECT_EQ(t.bytes.size() > 1 ? t.bytes[1] : 0, 0) << int(t.bytes[0]);
  }
  for (int id : {IDC_MODE, IDC_MODEL, IDC_WIFI_NAME, IDC_WIFI_PASSWORD, IDC_APPLY}) {
    EXPECT_TRUE(view.IsEnabled(id)) << id;
  }
}

TEST_F(DeferredLoad, ExitWhileTheLoadWaitsForTheReceiverEndsAtOnce) {
  model.OnInitDialog();
  pump.DuringNextWait([&] { model.Submit(SettingsModel::Command::Exit); });
  const auto start = clock->Now();
  model.OnTimer(STARTUP_TIMER);
  EXPECT_LT(clock->Now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(view.endResult, 1);
  EXPECT_FALSE(model.m_bLoaded);
}

}  // namespace
}  // namespace nerova::settings
