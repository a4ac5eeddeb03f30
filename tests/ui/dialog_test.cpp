// The dialog base: message routing to the named handlers, the ways a modal
// run ends, and exceptions kept away from Win32.
#include "ui/dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/ui/win_test_support.h"
#include "ui/handles.h"

namespace nerova {
namespace {

using test::PumpUntil;
using test::ScriptedDialog;

constexpr UINT kMsgProbe = WM_APP + 7;

// Records which handler saw what.
class RoutingDialog : public ScriptedDialog {
 public:
  RoutingDialog() : ScriptedDialog(IDD_SETTINGS) {}

  std::vector<std::wstring> log;
  int paints = 0;
  bool destroyed = false;
  bool throwOnCommand = false;
  HICON dragIcon = reinterpret_cast<HICON>(static_cast<INT_PTR>(0x1234));

 protected:
  bool OnInitDialog() override {
    log.push_back(L"init");
    return ScriptedDialog::OnInitDialog();
  }
  void OnCommand(int id, int code, HWND control) override {
    if (throwOnCommand) throw std::runtime_error("command handler failed");
    log.push_back(L"command " + std::to_wstring(id) + L" " + std::to_wstring(code) +
                  (control == Item(id) ? L" from control" : L""));
    ScriptedDialog::OnCommand(id, code, control);
  }
  std::optional<LRESULT> OnNotify(const NMHDR& header) override {
    log.push_back(L"notify " + std::to_wstring(header.idFrom) + L" " + std::to_wstring(static_cast<int>(header.code)));
    return 42;
  }
  bool OnTimer(UINT_PTR timerId) override {
    log.push_back(L"timer " + std::to_wstring(timerId));
    KillTimer(Handle(), timerId);
    return true;
  }
  bool OnPaint() override {
    ++paints;
    return false;  // the dialog manager paints
  }
  bool OnHScroll(int code, int position, HWND control) override {
    (void)position;
    log.push_back(L"hscroll " + std::to_wstring(code) + (control == Item(IDC_LONG_PRESS_SLIDER) ? L" slider" : L""));
    return false;
  }
  void OnLButtonDown(UINT, POINT point) override {
    log.push_back(L"lbutton " + std::to_wstring(point.x) + L"," + std::to_wstring(point.y));
  }
  HICON OnQueryDragIcon() override { return dragIcon; }
  std::optional<LRESULT> OnDeviceChange(WPARAM event, LPARAM) override {
    if (event == DBT_DEVICEARRIVAL) return TRUE;
    return std::nullopt;
  }
  std::optional<LRESULT> OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == kMsgProbe) return static_cast<LRESULT>(wParam + lParam);
    return ScriptedDialog::OnPrivateMessage(message, wParam, lParam);
  }
  void OnDestroy() override {
    destroyed = Item(IDC_APPLY) != nullptr;  // controls still there
  }
};

bool Contains(const std::vector<std::wstring>& log, const std::wstring& entry) {
  for (const std::wstring& line : log)
    if (line == entry) return true;
  return false;
}

class DialogTest : public testing::Test {
 protected:
  void SetUp() override { test::InitCommonControlsForTests(); }
};

TEST_F(DialogTest, EachMessageReachesItsNamedHandler) {
  RoutingDialog dialog;
  const INT_PTR result = dialog.RunScript([](ScriptedDialog& base) {
    auto& d = static_cast<RoutingDialog&>(base);
    HWND window = d.Handle();
    ASSERT_TRUE(window);
    EXPECT_EQ(reinterpret_cast<RoutingDialog*>(GetWindowLongPtrW(window, DWLP_USER)), &d);

    // A click on a button arrives as its BN_CLICKED command.
    SendMessageW(d.Item(IDC_REFRESH), BM_CLICK, 0, 0);
    EXPECT_TRUE(Contains(d.log, L"command 1014 0 from control"));

    // WM_NOTIFY: the handler's value is the message's result.
    NMHDR header{d.Item(IDC_MODE), IDC_MODE, static_cast<UINT>(NM_CLICK)};
    EXPECT_EQ(SendMessageW(window, WM_NOTIFY, IDC_MODE, reinterpret_cast<LPARAM>(&header)), 42);

    // The slider's keyboard moves come as WM_HSCROLL from the slider.
    HWND slider = d.Item(IDC_LONG_PRESS_SLIDER);
    SendMessageW(slider, WM_KEYDOWN, VK_RIGHT, 0);
    SendMessageW(slider, WM_KEYUP, VK_RIGHT, 0);
    EXPECT_TRUE(Contains(d.log, L"hscroll " + std::to_wstring(TB_LINEDOWN) + L" slider"));
    EXPECT_TRUE(Contains(d.log, L"hscroll " + std::to_wstring(TB_ENDTRACK) + L" slider"));

    SetTimer(window, 9, 10, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return Contains(d.log, L"timer 9"); }));

    d.paints = 0;
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    EXPECT_GE(d.paints, 1);

    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(12, 34));
    EXPECT_TRUE(Contains(d.log, L"lbutton 12,34"));

    // WM_QUERYDRAGICON answers with the icon itself.
    EXPECT_EQ(SendMessageW(window, WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(d.dragIcon));

    EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), TRUE);
    EXPECT_EQ(SendMessageW(window, kMsgProbe, 40, 2), 42);
  });
  EXPECT_EQ(result, ScriptedDialog::kScriptEnded);
  EXPECT_EQ(dialog.log.front(), L"init");
  EXPECT_TRUE(dialog.destroyed);
  EXPECT_EQ(dialog.Handle(), nullptr);
}

TEST_F(DialogTest, ThrowingHandlerDoesNotEscapeAndTheWindowGoesOn) {
  RoutingDialog dialog;
  const INT_PTR result = dialog.RunScript([](ScriptedDialog& base) {
    auto& d = static_cast<RoutingDialog&>(base);
    d.throwOnCommand = true;
    SendMessageW(d.Item(IDC_REFRESH), BM_CLICK, 0, 0);
    d.throwOnCommand = false;
    SendMessageW(d.Item(IDC_REFRESH), BM_CLICK, 0, 0);
    EXPECT_TRUE(Contains(d.log, L"command 1014 0 from control"));
  });
  EXPECT_EQ(result, ScriptedDialog::kScriptEnded);
}

TEST_F(DialogTest, EndModalMessageFromAnotherThreadEndsTheLoopWithItsResult) {
  RoutingDialog dialog;
  const INT_PTR result = dialog.RunScript([](ScriptedDialog& d) {
    d.LeaveOpen();
    HWND window = d.Handle();
    std::thread([window] { ui::PostEndModal(window, 77); }).detach();
  });
  EXPECT_EQ(result, 77);
  EXPECT_TRUE(dialog.destroyed);
}

TEST_F(DialogTest, EndModalMessageBeforeTheLoopRunsStillEndsIt) {
  // Asked to stop while it initialises: the posted request waits in the
  // queue and ends the loop as soon as it runs.
  class StopsAtOnce : public ui::Dialog {
   public:
    StopsAtOnce() : ui::Dialog(IDD_SETTINGS) {}

   protected:
    bool OnInitDialog() override {
      ui::PostEndModal(Handle(), 5);
      return ui::Dialog::OnInitDialog();
    }
  } dialog;
  EXPECT_EQ(dialog.RunModal(), 5);
}

TEST_F(DialogTest, QuitMessageEndsTheLoopAndStaysPostedForTheThread) {
  RoutingDialog dialog;
  dialog.RunScript([](ScriptedDialog& d) {
    d.LeaveOpen();
    PostQuitMessage(3);
  });
  EXPECT_TRUE(dialog.destroyed);
  MSG msg{};
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(DialogTest, CloseMessageRunsCancel) {
  RoutingDialog dialog;
  const INT_PTR result = dialog.RunScript([](ScriptedDialog& d) {
    d.LeaveOpen();
    PostMessageW(d.Handle(), WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(Contains(dialog.log, L"command 2 0 from control"));
}

TEST_F(DialogTest, EnterRunsOkAndEscapeRunsCancel) {
  RoutingDialog ok;
  EXPECT_EQ(ok.RunScript([](ScriptedDialog& d) {
    d.LeaveOpen();
    SetFocus(d.Item(IDC_WIFI_NAME));
    PostMessageW(d.Item(IDC_WIFI_NAME), WM_KEYDOWN, VK_RETURN, 0);
  }),
            IDOK);
  RoutingDialog cancel;
  EXPECT_EQ(cancel.RunScript([](ScriptedDialog& d) {
    d.LeaveOpen();
    SetFocus(d.Item(IDC_WIFI_NAME));
    PostMessageW(d.Item(IDC_WIFI_NAME), WM_KEYDOWN, VK_ESCAPE, 0);
  }),
            IDCANCEL);
}

TEST_F(DialogTest, MissingTemplateFailsWithMinusOne) {
  ui::Dialog dialog(4711);
  EXPECT_EQ(dialog.RunModal(), -1);
  EXPECT_EQ(dialog.Handle(), nullptr);
}

TEST_F(DialogTest, ModalRunsOnAnyThreadWithoutParent) {
  INT_PTR result = 0;
  HWND owner = reinterpret_cast<HWND>(1);
  std::thread worker([&] {
    RoutingDialog dialog;
    result = dialog.RunScript([&](ScriptedDialog& d) { owner = GetWindow(d.Handle(), GW_OWNER); });
  });
  worker.join();
  EXPECT_EQ(result, ScriptedDialog::kScriptEnded);
  EXPECT_EQ(owner, nullptr);
}

TEST_F(DialogTest, ItemHelpersShowEnableAndSetTexts) {
  RoutingDialog dialog;
  dialog.RunScript([](ScriptedDialog& d) {
    d.ShowItem(IDC_MODEL, true);
    EXPECT_TRUE(GetWindowLongPtrW(d.Item(IDC_MODEL), GWL_STYLE) & WS_VISIBLE);
    d.ShowItem(IDC_URL, false);
    EXPECT_FALSE(GetWindowLongPtrW(d.Item(IDC_URL), GWL_STYLE) & WS_VISIBLE);
    d.EnableItem(IDC_APPLY, false);
    EXPECT_FALSE(IsWindowEnabled(d.Item(IDC_APPLY)));
    d.EnableItem(IDC_APPLY, true);
    EXPECT_TRUE(IsWindowEnabled(d.Item(IDC_APPLY)));
    const std::wstring longText(5000, L'w');
    d.SetItemText(IDC_WIFI_NAME, longText);
    EXPECT_EQ(d.ItemText(IDC_WIFI_NAME), longText);  // no buffer cuts it
    // Unknown ids are ignored.
    d.ShowItem(4711, true);
    d.SetItemText(4711, L"x");
    EXPECT_EQ(d.ItemText(4711), L"");
    const wchar_t* const codecs[] = {L"h265", L"h264"};
    d.AddComboItems(IDC_CODEC, codecs);
    wchar_t first[16] = {};
    SendMessageW(d.Item(IDC_CODEC), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first));
    EXPECT_STREQ(first, L"h264");  // a sorted combo
  });
}

TEST(Handles, ComApartmentBalancesItsInitialisation) {
  std::thread([] {
    {
      ui::ComApartment outer;
      EXPECT_EQ(outer.Result(), S_OK);
      ui::ComApartment inner;
      EXPECT_EQ(inner.Result(), S_FALSE);
    }
    // Both released: a fresh initialisation is the first again.
    ui::ComApartment again;
    EXPECT_EQ(again.Result(), S_OK);
  }).join();
}

TEST(Handles, GdiObjectDeletesOnceAndMoves) {
  HBRUSH raw = CreateSolidBrush(RGB(1, 2, 3));
  {
    ui::Brush first(raw);
    ui::Brush second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), raw);
    EXPECT_EQ(GetObjectType(raw), static_cast<DWORD>(OBJ_BRUSH));
  }
  EXPECT_EQ(GetObjectType(raw), 0u);  // deleted
}

}  // namespace
}  // namespace nerova
