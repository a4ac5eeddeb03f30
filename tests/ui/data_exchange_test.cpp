// Two-way data exchange on the settings window's own template: texts with
// and without limits, combo texts, decimal statics, bound helpers.
#include "ui/data_exchange.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/ui/win_test_support.h"
#include "ui/controls.h"
#include "ui/message_box.h"

namespace nerova {
namespace {

using test::ScriptedDialog;

// The fields of the settings window, exchanged in its order.
class FieldsDialog : public ScriptedDialog {
 public:
  FieldsDialog() : ScriptedDialog(IDD_SETTINGS) {}

  std::wstring url, wifiName, wifiPassword, resolution, mode, model;
  std::int32_t width = 0, height = 0;
  ui::Trackbar slider;
  ui::Button agingTest;

 protected:
  bool OnInitDialog() override {
    static const wchar_t* const kModes[] = {L"Auto", L"Manual"};
    static const wchar_t* const kModels[] = {L"RC300W", L"RD700/RC60H5"};
    static const wchar_t* const kResolutions[] = {L"4k", L"1080p", L"720p"};
    AddComboItems(IDC_MODE, kModes);
    AddComboItems(IDC_MODEL, kModels);
    AddComboItems(IDC_RESOLUTION_PRESET, kResolutions);
    return ScriptedDialog::OnInitDialog();
  }
  void DoDataExchange(ui::DataExchange& dx) override {
    dx.Text(IDC_URL, url, 54);
    dx.Text(IDC_WIFI_NAME, wifiName);
    dx.Text(IDC_WIFI_PASSWORD, wifiPassword, 24);
    dx.ComboText(IDC_RESOLUTION_PRESET, resolution);
    dx.ComboText(IDC_MODE, mode);
    dx.ComboText(IDC_MODEL, model);
    dx.Number(IDC_RES_WIDTH, width);
    dx.Number(IDC_RES_HEIGHT, height);
    dx.Bind(IDC_LONG_PRESS_SLIDER, slider);
    dx.Bind(IDC_AGING_TEST, agingTest);
  }
};

LRESULT Selection(ScriptedDialog& d, int id) { return SendMessageW(d.Item(id), CB_GETCURSEL, 0, 0); }

class DataExchangeTest : public testing::Test {
 protected:
  void SetUp() override { test::InitCommonControlsForTests(); }

  // Every box shown during the test, answered with OK.
  std::vector<ui::MessageBoxRequest> boxes;
  ui::ScopedMessageBoxHandler capture{[this](const ui::MessageBoxRequest& request) {
    boxes.push_back(request);
    return IDOK;
  }};
};

TEST_F(DataExchangeTest, TowardsTheControlsTextsLimitsSelectionsAndNumbers) {
  FieldsDialog dialog;
  dialog.RunScript([](ScriptedDialog& base) {
    auto& d = static_cast<FieldsDialog&>(base);
    d.url = L"rtsp://192.168.1.1/stream";
    d.wifiName = L"TAVI_5G_123";
    d.wifiPassword = L"97531864";
    d.mode = L"Manual";
    d.model = L"RD700/RC60H5";
    d.resolution = L"720p";
    d.width = 1920;
    d.height = -1;
    d.TransferToControls();

    EXPECT_EQ(d.ItemText(IDC_URL), d.url);
    EXPECT_EQ(d.ItemText(IDC_WIFI_NAME), d.wifiName);
    EXPECT_EQ(d.ItemText(IDC_WIFI_PASSWORD), d.wifiPassword);
    EXPECT_EQ(SendMessageW(d.Item(IDC_URL), EM_GETLIMITTEXT, 0, 0), 54);
    EXPECT_EQ(SendMessageW(d.Item(IDC_WIFI_PASSWORD), EM_GETLIMITTEXT, 0, 0), 24);
    // No limit given: as untouched as an edit outside the exchange.
    EXPECT_EQ(SendMessageW(d.Item(IDC_WIFI_NAME), EM_GETLIMITTEXT, 0, 0),
              SendMessageW(d.Item(IDC_FPS), EM_GETLIMITTEXT, 0, 0));
    EXPECT_EQ(Selection(d, IDC_MODE), 1);
    EXPECT_EQ(Selection(d, IDC_MODEL), 1);
    EXPECT_EQ(Selection(d, IDC_RESOLUTION_PRESET), 2);
    EXPECT_EQ(d.ItemText(IDC_RES_WIDTH), L"1920");
    EXPECT_EQ(d.ItemText(IDC_RES_HEIGHT), L"-1");
    EXPECT_EQ(d.slider.Handle(), d.Item(IDC_LONG_PRESS_SLIDER));
    EXPECT_EQ(d.agingTest.Handle(), d.Item(IDC_AGING_TEST));
  });
}

TEST_F(DataExchangeTest, ComboSelectsOnlyTheItemEqualToTheMemberWhole) {
  FieldsDialog dialog;
  dialog.RunScript([](ScriptedDialog& base) {
    auto& d = static_cast<FieldsDialog&>(base);
    d.mode = L"Auto";
    d.TransferToControls();
    EXPECT_EQ(Selection(d, IDC_MODE), 0);
    // Neither a prefix, nor another letter case, nor an empty text selects.
    for (const wchar_t* text : {L"Au", L"auto", L"Auto ", L"", L"Manual2"}) {
      d.mode = text;
      d.TransferToControls();
      EXPECT_EQ(Selection(d, IDC_MODE), CB_ERR) << text;
    }
    // Towards the members an unselected list reads as empty.
    d.mode = L"stale";
    EXPECT_TRUE(d.TransferToMembers());
    EXPECT_EQ(d.mode, L"");
    SendMessageW(d.Item(IDC_MODEL), CB_SETCURSEL, 1, 0);
    EXPECT_TRUE(d.TransferToMembers());
    EXPECT_EQ(d.model, L"RD700/RC60H5");
  });
}

TEST_F(DataExchangeTest, TowardsTheMembersTextsAtTheirLimitsAreAccepted) {
  FieldsDialog dialog;
  dialog.RunScript([&](ScriptedDialog& base) {
    auto& d = static_cast<FieldsDialog&>(base);
    d.SetItemText(IDC_URL, std::wstring(54, L'u'));
    d.SetItemText(IDC_WIFI_NAME, std::wstring(300, L'n'));  // no limit
    d.SetItemText(IDC_WIFI_PASSWORD, std::wstring(24, L'p'));
    d.SetItemText(IDC_RES_WIDTH, L" 3840 ");
    d.SetItemText(IDC_RES_HEIGHT, L"-2160");
    EXPECT_TRUE(d.TransferToMembers());
    EXPECT_EQ(d.url, std::wstring(54, L'u'));
    EXPECT_EQ(d.wifiName, std::wstring(300, L'n'));
    EXPECT_EQ(d.wifiPassword, std::wstring(24, L'p'));
    EXPECT_EQ(d.width, 3840);
    EXPECT_EQ(d.height, -2160);
  });
  EXPECT_TRUE(boxes.empty());
}

TEST_F(DataExchangeTest, UrlOverItsLimitFailsTellsTheUserAndLeavesTheLaterMembers) {
  FieldsDialog dialog;
  dialog.RunScript([&](ScriptedDialog& base) {
    auto& d = static_cast<FieldsDialog&>(base);
    d.wifiName = L"before";
    // A stored URL longer than the limit goes into the edit whole...
    d.url = std::wstring(55, L'u');
    d.TransferToControls();
    EXPECT_EQ(d.ItemText(IDC_URL).size(), 55u);
    d.url = L"old";
    d.SetItemText(IDC_WIFI_NAME, L"typed");
    // ...and is refused on the way back, every time.
    EXPECT_FALSE(d.TransferToMembers());
    EXPECT_FALSE(d.TransferToMembers());
    EXPECT_EQ(d.url, L"old");
    EXPECT_EQ(d.wifiName, L"before");
    EXPECT_EQ(GetFocus(), d.Item(IDC_URL));
  });
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, L"This field holds at most 54 characters. Please shorten the text.");
  EXPECT_EQ(boxes[0].caption, ui::kApplicationName);
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_NE(boxes[0].owner, nullptr);
}

TEST_F(DataExchangeTest, PasswordOverItsLimitNamesItsOwnLimit) {
  FieldsDialog dialog;
  HWND window = nullptr;
  dialog.RunScript([&](ScriptedDialog& base) {
    auto& d = static_cast<FieldsDialog&>(base);
    window = d.Handle();
    d.SetItemText(IDC_URL, L"rtsp://a");
    d.SetItemText(IDC_WIFI_PASSWORD, std::wstring(25, L'p'));
    d.SetItemText(IDC_RES_WIDTH, L"77");
    EXPECT_FALSE(d.TransferToMembers());
    EXPECT_EQ(d.url, L"rtsp://a");  // before the refused field
    EXPECT_EQ(d.wifiPassword, L"");
    EXPECT_EQ(d.width, 0);  // after it
  });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, ui::TooLongMessage(24));
  EXPECT_EQ(boxes[0].owner, window);
}

TEST_F(DataExchangeTest, LimitStopsTypingInTheEdit) {
  FieldsDialog dialog;
  dialog.RunScript([](ScriptedDialog& base) {
    auto& d = static_cast<FieldsDialog&>(base);
    d.TransferToControls();
    HWND password = d.Item(IDC_WIFI_PASSWORD);
    SetFocus(password);
    for (int i = 0; i < 30; ++i) SendMessageW(password, WM_CHAR, L'0' + i % 10, 0);
    EXPECT_EQ(d.ItemText(IDC_WIFI_PASSWORD).size(), 24u);
  });
}

TEST_F(DataExchangeTest, StaticThatIsNoNumberIsRefused) {
  FieldsDialog dialog;
  dialog.RunScript([](ScriptedDialog& base) {
    auto& d = static_cast<FieldsDialog&>(base);
    d.height = 5;
    for (const wchar_t* text : {L"abc", L"12x", L"", L"2147483648", L"-2147483649", L"1 2"}) {
      d.SetItemText(IDC_RES_WIDTH, text);
      EXPECT_FALSE(d.TransferToMembers()) << text;
    }
    EXPECT_EQ(d.height, 5);
  });
  ASSERT_EQ(boxes.size(), 6u);
  EXPECT_EQ(boxes[0].text, ui::NotANumberMessage());
}

TEST(ParseDecimal, AcceptsSignedDecimalsInRangeOnly) {
  EXPECT_EQ(ui::ParseDecimal(L"0"), 0);
  EXPECT_EQ(ui::ParseDecimal(L"+17"), 17);
  EXPECT_EQ(ui::ParseDecimal(L"  -42\t"), -42);
  EXPECT_EQ(ui::ParseDecimal(L"2147483647"), 2147483647);
  EXPECT_EQ(ui::ParseDecimal(L"-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ui::ParseDecimal(L"00000000000000000000042"), 42);
  for (const wchar_t* bad : {L"", L" ", L"-", L"+", L"0x10", L"1e3", L"2147483648", L"99999999999999999999"})
    EXPECT_FALSE(ui::ParseDecimal(bad)) << bad;
}

TEST_F(DataExchangeTest, OkKeepsTheWindowOpenWhileAFieldIsRefused) {
  FieldsDialog dialog;
  const INT_PTR result = dialog.RunScript([](ScriptedDialog& d) {
    d.LeaveOpen();
    d.SetItemText(IDC_URL, std::wstring(60, L'u'));
    SendMessageW(d.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(IsWindow(d.Handle()));
    d.SetItemText(IDC_URL, L"rtsp://short");
    PostMessageW(d.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(dialog.url, L"rtsp://short");
  EXPECT_EQ(boxes.size(), 1u);
}

}  // namespace
}  // namespace nerova
