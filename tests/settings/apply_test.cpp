// Apply, the hidden per-field writes, the diagnostics and Exit, against the
// receiver substitute: what reaches the receiver, in which order, how far
// apart, and what the user is told.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "link/receiver_link.h"
#include "link/utf8_codec.h"
#include "resources/resource_ids.h"
#include "settings/apply_texts.h"
#include "settings/reboot_flag.h"
#include "settings/settings_model.h"
#include "sim/pumps.h"
#include "sim/sim_stack.h"
#include "tests/settings/fake_settings_view.h"

namespace nerova::settings {
namespace {

using std::chrono::milliseconds;
using testing::FakeSettingsView;

constexpr int kDeviceControls[] = {IDC_MODE,          IDC_MODEL, IDC_URL,
                                   IDC_WIFI_NAME,     IDC_WIFI_PASSWORD,
                                   IDC_APPLY,         IDC_LONG_PRESS_SLIDER,
                                   IDC_AGING_TEST};

std::vector<std::uint8_t> Block(std::uint8_t code, const std::string& text) {
  std::vector<std::uint8_t> block(60, 0);
  block[0] = code;
  std::copy(text.begin(), text.end(), block.begin() + 1);
  return block;
}

class ApplyTest : public ::testing::Test {
 protected:
  ApplyTest() {
    view.model = &model;
    g_bRebootExpected = false;
    sim::ReceiverValues values = receiver.Values();
    values.wifiName = "TAVI_5G_0A0B";
    values.wifiPassword = "97531864";
    values.longPressTime = 30;
    values.agingTest = 0;
    receiver.SetValues(values);
    receiver.PinRssi(-55);
    Start();
    stack.ClearTransfers();
    view.timerLog.clear();
  }
  ~ApplyTest() override { g_bRebootExpected = false; }

  // The window as it opens: initialised, then its first load once shown.
  static void Start(SettingsModel& opened) {
    opened.OnInitDialog();
    opened.OnTimer(STARTUP_TIMER);
  }
  void Start() { Start(model); }

  // The SETs of the settings control since the last clear.
  std::vector<sim::TransferRecord> Sets() const {
    std::vector<sim::TransferRecord> sets;
    for (const auto& t : stack.DataTransfers()) {
      if (t.kind == sim::TransferKind::Set) sets.push_back(t);
    }
    return sets;
  }
  std::vector<std::uint8_t> SetCodes() const {
    std::vector<std::uint8_t> codes;
    for (const auto& t : Sets()) codes.push_back(t.bytes.empty() ? 0xFF : t.bytes[0]);
    return codes;
  }
  void PickModel(const std::wstring& name) {
    view.Pick(IDC_MODEL, name);
    model.Submit(SettingsModel::Command::SelchangeModel);
  }
  void PickMode(const std::wstring& name) {
    view.Pick(IDC_MODE, name);
    model.Submit(SettingsModel::Command::SelchangeMode);
  }
  void ExpectNothingWritten() {
    EXPECT_TRUE(Sets().empty()) << Sets().size() << " blocks were sent";
    EXPECT_FALSE(g_bRebootExpected);
    EXPECT_TRUE(model.m_bDevicePresent);
    EXPECT_EQ(view.TimerPeriod(POLL_TIMER), kPollPeriodMs);
  }

  std::shared_ptr<sim::ManualClock> clock = std::make_shared<sim::ManualClock>();
  sim::SimStack stack{clock};
  sim::FakePump pump{*clock};
  link::Utf8Codec codec;
  link::Receiver receiving{stack, pump, codec};
  FakeSettingsView view;
  SettingsModel model{view, receiving, pump};
  sim::Device receiver = stack.AddReceiver();
};

TEST_F(ApplyTest, WritesEverythingInOrderThenRestartsAfterTheMessage) {
  PickModel(L"RD700/RC60H5");
  view.Type(IDC_WIFI_NAME, L"TAVI-7788");
  view.Type(IDC_WIFI_PASSWORD, L"24681357");
  view.checks[IDC_AGING_TEST] = true;
  std::size_t setsWhileBoxOpen = 0;
  bool flagWhileBoxOpen = true;
  view.onMessage = [&](const std::wstring&) {
    setsWhileBoxOpen = Sets().size();
    flagWhileBoxOpen = g_bRebootExpected;
  };
  model.Submit(SettingsModel::Command::Apply);

  EXPECT_EQ(view.messages, std::vector<std::wstring>{std::wstring(kApplySucceeded)});
  const std::vector<sim::TransferRecord> sets = Sets();
  ASSERT_EQ(sets.size(), 6u);
  EXPECT_EQ(sets[0].bytes, Block(0x02, "rtsp://192.168.1.100/video0"));
  EXPECT_EQ(sets[1].bytes, Block(0x04, "wifiname=TAVI-7788"));
  EXPECT_EQ(sets[2].bytes, Block(0x05, "wifipassword=24681357"));
  EXPECT_EQ(sets[3].bytes, Block(0x0D, "longpresstime=30"));
  EXPECT_EQ(sets[4].bytes, Block(0x0C, "agingtest=1"));
  EXPECT_EQ(sets[5].bytes, Block(0x64, ""));
  for (std::size_t i = 1; i < sets.size(); ++i) {
    EXPECT_GE(sets[i].time - sets[i - 1].time, milliseconds(150)) << "between block " << i - 1 << " and " << i;
  }
  // Nothing but these blocks: no reads in between.
  EXPECT_EQ(stack.DataTransfers().size(), 6u);
  // The restart only after the box was closed, and the flag right before it.
  EXPECT_EQ(setsWhileBoxOpen, 5u);
  EXPECT_FALSE(flagWhileBoxOpen);
  EXPECT_TRUE(g_bRebootExpected);

  // The rebooting state.
  EXPECT_FALSE(model.m_bLoaded);
  EXPECT_FALSE(model.m_bDevicePresent);
  for (int id : kDeviceControls) EXPECT_FALSE(view.IsEnabled(id)) << id;
  EXPECT_FALSE(view.IsEnabled(IDC_REFRESH));
  EXPECT_EQ(view.timerLog, (std::vector<int>{0, static_cast<int>(kRebootPollPeriodMs)}));
  // The receiver dropped: the next probe searches afresh.
  EXPECT_EQ(model.m_settings.Device(), nullptr);
}

TEST_F(ApplyTest, ReceiverComesBackOnALaterTickWithTheNewValues) {
  receiver.SetRebootTime(milliseconds(15000));
  view.Type(IDC_WIFI_NAME, L"TAVI_5G_NEW1");
  model.Submit(SettingsModel::Command::Apply);
  ASSERT_FALSE(model.m_bDevicePresent);

  // Ten seconds on: still restarting; the controls stay disabled.
  clock->Advance(milliseconds(kRebootPollPeriodMs));
  model.OnTimer(POLL_TIMER);
  EXPECT_FALSE(model.m_bDevicePresent);
  for (int id : kDeviceControls) EXPECT_FALSE(view.IsEnabled(id)) << id;
  EXPECT_FALSE(view.IsEnabled(IDC_REFRESH));
  EXPECT_EQ(view.TimerPeriod(POLL_TIMER), kRebootPollPeriodMs);

  clock->Advance(milliseconds(kRebootPollPeriodMs));
  model.OnTimer(POLL_TIMER);
  EXPECT_TRUE(model.m_bLoaded);
  EXPECT_TRUE(model.m_bDevicePresent);
  for (int id : kDeviceControls) EXPECT_TRUE(view.IsEnabled(id)) << id;
  EXPECT_TRUE(view.IsEnabled(IDC_REFRESH));
  EXPECT_EQ(view.TimerPeriod(POLL_TIMER), kPollPeriodMs);
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"TAVI_5G_NEW1");
  EXPECT_EQ(view.texts[IDC_FIRMWARE_VERSION], L"V2.4.7");
  // The snapshot stays that of the first load.
  EXPECT_EQ(model.m_strFirstWifiName, L"TAVI_5G_0A0B");
}

TEST_F(ApplyTest, AutoModeWritesTheModelsUrlWhateverTheHiddenEditHolds) {
  PickModel(L"RD700/RC60H5");
  view.Type(IDC_URL, L"rtsp://somewhere.else/stream");
  model.Submit(SettingsModel::Command::Apply);
  ASSERT_FALSE(Sets().empty());
  EXPECT_EQ(Sets()[0].bytes, Block(0x02, "rtsp://192.168.1.100/video0"));
  // The edit is not updated.
  EXPECT_EQ(view.texts[IDC_URL], L"rtsp://somewhere.else/stream");
}

TEST_F(ApplyTest, ManualModeWritesTheTypedUrlTrimmed) {
  PickMode(L"Manual");
  view.Type(IDC_URL, L"  rtsp://10.1.1.9/live \t");
  view.Type(IDC_WIFI_NAME, L"  CAM NET  ");
  model.Submit(SettingsModel::Command::Apply);
  ASSERT_GE(Sets().size(), 2u);
  EXPECT_EQ(Sets()[0].bytes, Block(0x02, "rtsp://10.1.1.9/live"));
  // Inner blanks stay; the edit keeps what was typed.
  EXPECT_EQ(Sets()[1].bytes, Block(0x04, "wifiname=CAM NET"));
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"  CAM NET  ");
  EXPECT_EQ(model.m_strWifiName, L"CAM NET");
}

TEST_F(ApplyTest, EmptyFieldsAreRefusedInOrderWithNothingWritten) {
  struct Case {
    const wchar_t* url;
    const wchar_t* name;
    const wchar_t* password;
    std::wstring_view message;
  };
  const Case cases[] = {
      {L"   ", L"", L"", kUrlEmpty},
      {L"rtsp://10.0.0.1/a", L" \t ", L"", kWifiNameEmpty},
      {L"rtsp://10.0.0.1/a", L"CAM", L"  ", kPasswordEmpty},
  };
  PickMode(L"Manual");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.message.begin(), c.message.end()));
    view.messages.clear();
    view.Type(IDC_URL, c.url);
    view.Type(IDC_WIFI_NAME, c.name);
    view.Type(IDC_WIFI_PASSWORD, c.password);
    model.Submit(SettingsModel::Command::Apply);
    EXPECT_EQ(view.messages, std::vector<std::wstring>{std::wstring(c.message)});
    ExpectNothingWritten();
  }
}

TEST_F(ApplyTest, TextsTooLongForTheReceiverAreRefusedUncut) {
  // 32 bytes, the longest Wi-Fi network name, go out whole.
  view.Type(IDC_WIFI_NAME, std::wstring(32, L'N'));
  model.Submit(SettingsModel::Command::Apply);
  ASSERT_EQ(view.messages, std::vector<std::wstring>{std::wstring(kApplySucceeded)});
  ASSERT_GE(Sets().size(), 2u);
  EXPECT_EQ(Sets()[1].bytes, Block(0x04, "wifiname=" + std::string(32, 'N')));

  // Back to the loaded state for the refusals.
  model.m_bLoaded = false;
  model.m_bDevicePresent = false;
  clock->Advance(milliseconds(10000));
  model.OnTimer(POLL_TIMER);
  ASSERT_TRUE(model.m_bDevicePresent);

  struct Case {
    std::wstring url;
    std::wstring name;
    std::wstring password;
    std::wstring message;
  };
  // Multi-byte characters: within the edits' character limits, over the block's bytes.
  const std::wstring wideUrl = L"rtsp://10.0.0.1/" + std::wstring(38, L'\u00e9');  // 54 characters, 92 bytes
  const Case cases[] = {
      {wideUrl, L"CAM", L"12345678", L"Url is too long: the receiver takes at most 58 bytes"},
      {L"rtsp://10.0.0.1/a", std::wstring(33, L'N'), L"12345678", L"Wifi Name is too long: it takes at most 32 bytes"},
      {L"rtsp://10.0.0.1/a", L"CAM", std::wstring(16, L'\u5bc6'),
       L"Password is too long: the receiver takes at most 45 bytes"},
  };
  PickMode(L"Manual");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.message.begin(), c.message.end()));
    stack.ClearTransfers();
    view.messages.clear();
    view.Type(IDC_URL, c.url);
    view.Type(IDC_WIFI_NAME, c.name);
    view.Type(IDC_WIFI_PASSWORD, c.password);
    model.Submit(SettingsModel::Command::Apply);
    EXPECT_EQ(view.messages, std::vector<std::wstring>{c.message});
    EXPECT_TRUE(Sets().empty());
    EXPECT_TRUE(model.m_bDevicePresent);
    EXPECT_EQ(view.TimerPeriod(POLL_TIMER), kPollPeriodMs);
    // Nothing was cut: the edits hold what was typed.
    EXPECT_EQ(view.texts[IDC_WIFI_NAME], c.name);
    EXPECT_EQ(view.texts[IDC_WIFI_PASSWORD], c.password);
  }
}

TEST_F(ApplyTest, AControlOverItsLimitFailsTheReadAndWritesNothing) {
  // A stored URL longer than the edit takes, loaded as it is.
  sim::ReceiverValues values = receiver.Values();
  values.url = "rtsp://192.168.1.100/" + std::string(40, 'x');
  receiver.SetValues(values);
  model.m_bLoaded = false;
  model.m_bDevicePresent = false;
  model.OnTimer(POLL_TIMER);
  ASSERT_EQ(model.m_strMode, L"Manual");
  stack.ClearTransfers();
  view.timerLog.clear();
  for (int attempt = 0; attempt < 2; ++attempt) {
    view.messages.clear();
    model.Submit(SettingsModel::Command::Apply);
    // The layer's own message first, then Apply's.
    EXPECT_EQ(view.messages, (std::vector<std::wstring>{L"at most 54", std::wstring(kApplyFailed)}));
    ExpectNothingWritten();
  }
  // In Auto mode the URL edit is hidden and takes no part: the camera
  // model's URL goes out.
  PickMode(L"Auto");
  view.messages.clear();
  model.Submit(SettingsModel::Command::Apply);
  EXPECT_EQ(view.messages, std::vector<std::wstring>{std::wstring(kApplySucceeded)});
  ASSERT_FALSE(Sets().empty());
  EXPECT_EQ(Sets()[0].bytes, Block(0x02, sim::kCameraAUrl));
}

TEST_F(ApplyTest, ARefusedWriteStopsApplyWithoutRestart) {
  const std::uint8_t codes[] = {0x02, 0x04, 0x05};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    stack.ClearTransfers();
    view.messages.clear();
    view.timerLog.clear();
    receiver.ClearFaults();
    receiver.RefuseSets(codes[i]);
    model.Submit(SettingsModel::Command::Apply);
    EXPECT_EQ(view.messages, std::vector<std::wstring>{std::wstring(kApplyFailed)});
    // The writes before stay; nothing after the refused one is sent.
    std::vector<std::uint8_t> expected(codes, codes + i + 1);
    EXPECT_EQ(SetCodes(), expected);
    EXPECT_FALSE(g_bRebootExpected);
    EXPECT_TRUE(model.m_bLoaded);
    EXPECT_TRUE(model.m_bDevicePresent);
    for (int id : kDeviceControls) EXPECT_TRUE(view.IsEnabled(id)) << id;
    EXPECT_EQ(view.timerLog, (std::vector<int>{0, static_cast<int>(kPollPeriodMs)}));
  }
}

TEST_F(ApplyTest, RefusedLongPressAndAgingWritesAreNotReported) {
  receiver.RefuseSets(0x0D);
  receiver.RefuseSets(0x0C);
  model.Submit(SettingsModel::Command::Apply);
  EXPECT_EQ(view.messages, std::vector<std::wstring>{std::wstring(kApplySucceeded)});
  EXPECT_EQ(SetCodes(), (std::vector<std::uint8_t>{0x02, 0x04, 0x05, 0x0D, 0x0C, 0x64}));
  EXPECT_TRUE(g_bRebootExpected);
  EXPECT_FALSE(model.m_bDevicePresent);
}

TEST_F(ApplyTest, HiddenValuesTheLoadCouldNotReadAreNotWrittenBack) {
  sim::ReceiverValues values = receiver.Values();
  values.longPressTime = 50;
  values.agingTest = 1;
  receiver.SetValues(values);
  receiver.RefuseGets(link::CMD_LONG_PRESS_TIME);
  receiver.RefuseGets(link::CMD_AGING_TEST);
  model.m_bLoaded = false;
  model.Submit(SettingsModel::Command::Refresh);
  stack.ClearTransfers();

  model.Submit(SettingsModel::Command::Apply);
  EXPECT_EQ(view.messages, std::vector<std::wstring>{std::wstring(kApplySucceeded)});
  EXPECT_EQ(SetCodes(), (std::vector<std::uint8_t>{0x02, 0x04, 0x05, 0x64}));
  const std::vector<sim::TransferRecord> sets = Sets();
  for (std::size_t i = 1; i < sets.size(); ++i) EXPECT_GE(sets[i].time - sets[i - 1].time, milliseconds(150));
  EXPECT_EQ(receiver.Values().longPressTime, 50);
  EXPECT_EQ(receiver.Values().agingTest, 1);
}

TEST_F(ApplyTest, ARestartThatNeverLeftIsSaidAndTheNextUnplugReplacesTheWindow) {
  receiver.RefuseSets(0x64);
  model.Submit(SettingsModel::Command::Apply);
  EXPECT_EQ(view.messages, std::vector<std::wstring>{std::wstring(kApplySucceeded)});
  EXPECT_TRUE(g_bRebootExpected);
  EXPECT_FALSE(model.m_bDevicePresent);
  EXPECT_FALSE(view.IsEnabled(IDC_REFRESH));
  EXPECT_EQ(view.TimerPeriod(POLL_TIMER), kRebootPollPeriodMs);
  EXPECT_EQ(view.texts[IDC_STATUS], StatusText(WindowStatus::Restarting));
  // The receiver may have restarted before it acknowledged: nothing is kept,
  // and the next tick finds it afresh and reloads. No removal came (the
  // host would have cleared the flag): it never left, so it holds the new
  // configuration without using it, and the window says so.
  EXPECT_EQ(model.m_settings.Device(), nullptr);
  model.OnTimer(POLL_TIMER);
  EXPECT_TRUE(model.m_bDevicePresent);
  EXPECT_EQ(view.TimerPeriod(POLL_TIMER), kPollPeriodMs);
  EXPECT_EQ(view.texts[IDC_STATUS], StatusText(WindowStatus::DidNotRestart));
  EXPECT_FALSE(g_bRebootExpected) << "the next unplugging would be taken for the restart";
  model.OnTimer(POLL_TIMER);
  EXPECT_EQ(view.texts[IDC_STATUS], StatusText(WindowStatus::DidNotRestart));
}

TEST_F(ApplyTest, AReceiverThatLeftAndCameBackIsFoundAfresh) {
  // A restart refused by a receiver that restarts anyway, then an unplug
  // and replug: each time the receiver comes back as a new device.
  receiver.RefuseSets(0x64);
  model.Submit(SettingsModel::Command::Apply);
  receiver.Unplug();
  receiver.Replug();
  model.OnTimer(POLL_TIMER);
  EXPECT_TRUE(model.m_bDevicePresent);
  EXPECT_TRUE(view.IsEnabled(IDC_APPLY));

  receiver.Unplug();
  receiver.Replug();
  model.OnTimer(POLL_TIMER);
  EXPECT_TRUE(model.m_bDevicePresent);
  EXPECT_EQ(model.m_nRssi, -55);
  receiver.Unplug();
  model.OnTimer(POLL_TIMER);
  EXPECT_FALSE(model.m_bDevicePresent);
  EXPECT_FALSE(view.IsEnabled(IDC_APPLY));
}

TEST_F(ApplyTest, SliderValueOutsideTheRangeGoesBackAsTheNearerBound) {
  sim::ReceiverValues values = receiver.Values();
  values.longPressTime = 5;
  values.agingTest = 1;
  receiver.SetValues(values);
  model.m_bLoaded = false;
  model.m_bDevicePresent = false;
  model.OnTimer(POLL_TIMER);
  stack.ClearTransfers();
  model.Submit(SettingsModel::Command::Apply);
  ASSERT_EQ(Sets().size(), 6u);
  EXPECT_EQ(Sets()[3].bytes, Block(0x0D, "longpresstime=20"));
  EXPECT_EQ(Sets()[4].bytes, Block(0x0C, "agingtest=1"));
}

TEST_F(ApplyTest, CommandsDuringTheWaitsDoNotRunInTheMiddle) {
  // During the first pause the user presses Refresh and Apply again and
  // picks the other model; during the second a poll tick comes.
  int pauses = 0;
  std::function<void()> during;
  during = [&] {
    ++pauses;
    if (pauses == 1) {
      model.Submit(SettingsModel::Command::Refresh);
      model.Submit(SettingsModel::Command::Apply);
      view.Pick(IDC_MODEL, L"RD700/RC60H5");
      model.Submit(SettingsModel::Command::SelchangeModel);
      EXPECT_EQ(model.m_strModel, L"RC300W");  // not yet
    } else if (pauses == 2) {
      model.OnTimer(POLL_TIMER);
    }
    if (pauses < 5) pump.DuringNextWait(during);
  };
  pump.DuringNextWait(during);
  model.Submit(SettingsModel::Command::Apply);
  EXPECT_EQ(pauses, 5);
  // Only the Apply's own blocks went out, with what was checked.
  EXPECT_EQ(SetCodes(), (std::vector<std::uint8_t>{0x02, 0x04, 0x05, 0x0D, 0x0C, 0x64}));
  EXPECT_EQ(Sets()[0].bytes, Block(0x02, "rtsp://192.168.1.200/video1.sdp"));
  EXPECT_EQ(Sets()[1].bytes, Block(0x04, "wifiname=TAVI_5G_0A0B"));
  EXPECT_EQ(view.messages, std::vector<std::wstring>{std::wstring(kApplySucceeded)});
  // Afterwards nothing of what waited ran: it belonged to the configuration
  // the receiver is restarting with. The Refresh read nothing, the model
  // change did not touch the Wi-Fi name, the second Apply wrote nothing, and
  // the controls wait for the receiver's return.
  EXPECT_EQ(stack.DataTransfers().back().bytes[0], 0x64);
  EXPECT_EQ(model.m_strModel, L"RC300W");
  EXPECT_EQ(view.texts[IDC_WIFI_NAME], L"TAVI_5G_0A0B");
  for (int id : {IDC_MODE, IDC_MODEL, IDC_WIFI_NAME, IDC_APPLY}) EXPECT_FALSE(view.IsEnabled(id)) << id;
}

TEST_F(ApplyTest, FirmwareUpdateAndHelpWaitForTheWholeConfiguration) {
  pump.DuringNextWait([&] {
    model.Submit(SettingsModel::Command::FirmwareUpdate);
    model.Submit(SettingsModel::Command::Help);
  });
  view.onMessage = [&](const std::wstring&) { EXPECT_TRUE(view.actions.empty()); };
  model.Submit(SettingsModel::Command::Apply);
  EXPECT_EQ(view.actions, (std::vector<std::wstring>{L"firmware update", L"help"}));
  EXPECT_EQ(SetCodes(), (std::vector<std::uint8_t>{0x02, 0x04, 0x05, 0x0D, 0x0C, 0x64}));
}

TEST_F(ApplyTest, ARefreshQueuedBehindARefusedRestartLeavesTheWindowToItsProbe) {
  // The receiver refuses the restart and goes on answering.
  receiver.RefuseSets(0x64);
  pump.DuringNextWait([&] { model.Submit(SettingsModel::Command::Refresh); });
  model.Submit(SettingsModel::Command::Apply);
  EXPECT_FALSE(model.m_bDevicePresent);
  for (int id : {IDC_WIFI_NAME, IDC_APPLY, IDC_REFRESH}) EXPECT_FALSE(view.IsEnabled(id)) << id;
  // The next probe finds it, reads it, and every control follows.
  model.OnTimer(POLL_TIMER);
  EXPECT_TRUE(model.m_bDevicePresent);
  for (int id : {IDC_MODE, IDC_MODEL, IDC_WIFI_NAME, IDC_WIFI_PASSWORD, IDC_APPLY, IDC_REFRESH}) {
    EXPECT_TRUE(view.IsEnabled(id)) << id;
  }
}

TEST_F(ApplyTest, ExitDuringApplyClosesOnceTheWholeConfigurationIsOut) {
  pump.DuringNextWait([&] {
    pump.DuringNextWait([&] { model.Submit(SettingsModel::Command::Exit); });
  });
  model.Submit(SettingsModel::Command::Apply);
  EXPECT_EQ(view.endResult, 1);
  // Exit came after URL and name: the rest and the restart still went out,
  // without the box the closed window would show.
  EXPECT_EQ(SetCodes(), (std::vector<std::uint8_t>{0x02, 0x04, 0x05, 0x0D, 0x0C, 0x64}));
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(g_bRebootExpected);
}

TEST_F(ApplyTest, ExitReadsAndWritesNothing) {
  view.Type(IDC_URL, std::wstring(80, L'x'));
  model.Submit(SettingsModel::Command::Exit);
  EXPECT_EQ(view.endResult, 1);
  EXPECT_TRUE(stack.DataTransfers().empty());
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(ApplyTest, PerFieldSetsWriteTheMemberAsItIs) {
  // The URL edit counts in Manual mode only.
  PickMode(L"Manual");
  view.Type(IDC_URL, L" rtsp://x/y ");
  view.Type(IDC_WIFI_NAME, L" CAM ");
  view.Type(IDC_WIFI_PASSWORD, L"");
  view.texts[IDC_RES_WIDTH] = L"1280";
  view.texts[IDC_RES_HEIGHT] = L"720";
  model.Submit(SettingsModel::Command::SetUrl);
  model.Submit(SettingsModel::Command::SetWifiName);
  model.Submit(SettingsModel::Command::SetPassword);
  model.Submit(SettingsModel::Command::SetResolution);
  EXPECT_EQ(view.messages, (std::vector<std::wstring>{L"Set Url OK", L"Set WifiName OK", L"Set Password OK",
                                                      L"Set Resolution OK"}));
  ASSERT_EQ(Sets().size(), 4u);
  // Untrimmed, not the Auto mode's default, and an empty password too.
  EXPECT_EQ(Sets()[0].bytes, Block(0x02, " rtsp://x/y "));
  EXPECT_EQ(Sets()[1].bytes, Block(0x04, "wifiname= CAM "));
  EXPECT_EQ(Sets()[2].bytes, Block(0x05, "wifipassword="));
  EXPECT_EQ(Sets()[3].bytes, Block(0x06, "resolution=1280x720"));
  // No timer change and no waits of their own.
  EXPECT_TRUE(view.timerLog.empty());
  EXPECT_TRUE(pump.Waits().empty() || std::count(pump.Waits().begin(), pump.Waits().end(), kWritePauseMs) == 0);

  receiver.RefuseSets(0x02);
  receiver.RefuseSets(0x04);
  receiver.RefuseSets(0x05);
  receiver.RefuseSets(0x06);
  view.messages.clear();
  model.Submit(SettingsModel::Command::SetUrl);
  model.Submit(SettingsModel::Command::SetWifiName);
  model.Submit(SettingsModel::Command::SetPassword);
  model.Submit(SettingsModel::Command::SetResolution);
  EXPECT_EQ(view.messages, (std::vector<std::wstring>{L"Failed to Set Url", L"Failed to Set WifiName",
                                                      L"Failed to Set Password", L"Failed to Set Resolution"}));
  // A failed control read ends the command silently (after the layer's message).
  view.messages.clear();
  view.Type(IDC_URL, std::wstring(60, L'u'));
  model.Submit(SettingsModel::Command::SetWifiName);
  EXPECT_EQ(view.messages, std::vector<std::wstring>{L"at most 54"});
}

TEST_F(ApplyTest, Diagnostics) {
  receiver.PinRssi(-77);
  model.Submit(SettingsModel::Command::SetCur);
  EXPECT_EQ(model.m_nRssi, -77);
  EXPECT_EQ(view.picture, SignalPicture::Weak);
  EXPECT_TRUE(Sets().size() == 1 && Sets()[0].bytes == Block(0x65, ""));

  // GET_CUR reads the block the kept receiver holds, in the window's turn.
  stack.ClearTransfers();
  model.Submit(SettingsModel::Command::GetCur);
  auto gets = [&] {
    std::size_t n = 0;
    for (const auto& t : stack.DataTransfers()) n += t.kind == sim::TransferKind::Get;
    return n;
  };
  EXPECT_EQ(gets(), 1u);
  EXPECT_TRUE(Sets().empty());

  // The block sweep reads every code from 1 to 14, 10 ms apart, and shows nothing.
  stack.ClearTransfers();
  const std::size_t waitsBefore = pump.Waits().size();
  model.Submit(SettingsModel::Command::BlockSweep);
  std::vector<std::uint8_t> expected;
  for (std::uint8_t code = 1; code <= 14; ++code) expected.push_back(code);
  EXPECT_EQ(SetCodes(), expected);
  EXPECT_EQ(std::count(pump.Waits().begin() + static_cast<std::ptrdiff_t>(waitsBefore), pump.Waits().end(),
                       kReadPauseMs),
            14);
  EXPECT_TRUE(view.messages.empty());
  model.OnDestroy();
  EXPECT_EQ(stack.OpenDevices(), 0);
}

TEST_F(ApplyTest, DiagnosticWithoutReceiverEndsQuietly) {
  receiver.Unplug();
  stack.ClearTransfers();
  model.Submit(SettingsModel::Command::GetCur);
  EXPECT_TRUE(stack.DataTransfers().empty());
  EXPECT_TRUE(view.messages.empty());
}

}  // namespace
}  // namespace nerova::settings
