// The help overlay under Wine: layered, topmost and screen-sized, its
// painting, the clicks that close it and the ones that do not, and the marks
// the "?" button collects from the settings window.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "resources/resource_ids.h"
#include "tests/ui/win_test_support.h"
#include "widgets/help_overlay.h"
#include "widgets/transparent_dlg.h"

namespace nerova {
namespace {

using test::PixelAt;
using test::ScriptedDialog;
using test::WaitUntil;
using widgets::CTransparentDlg;
using widgets::HelpItem;
using widgets::HelpRect;

bool IsRed(COLORREF c) { return GetRValue(c) > 150 && GetGValue(c) < 90 && GetBValue(c) < 90; }

// The overlay of `thread` once it is on screen: a visible layered window.
HWND WaitForOverlay(DWORD thread) {
  HWND found = nullptr;
  WaitUntil([&] {
    for (HWND window : test::ThreadWindows(thread)) {
      if (IsWindowVisible(window) && (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYERED)) {
        found = window;
        return true;
      }
    }
    return false;
  });
  return found;
}

int RedPixelsIn(HWND window, int left, int top, int right, int bottom) {
  int red = 0;
  for (int y = top; y < bottom; y += 2)
    for (int x = left; x < right; x += 2) red += IsRed(PixelAt(window, x, y)) ? 1 : 0;
  return red;
}

// Runs `watch` on a thread of its own while `run` holds the overlay's modal
// loop on this one; `watch` gets the overlay (or null) and must close it.
template <class Run, class Watch>
void WithOverlay(Run run, Watch watch) {
  const DWORD thread = GetCurrentThreadId();
  std::thread watcher([&] {
    HWND overlay = WaitForOverlay(thread);
    watch(overlay);
    // Never leave the test hanging on a veil that stayed open.
    if (overlay && IsWindow(overlay)) PostThreadMessageW(thread, WM_QUIT, 0, 0);
  });
  run();
  watcher.join();
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

class OverlayTest : public testing::Test {
 protected:
  void SetUp() override { test::InitCommonControlsForTests(); }
};

TEST_F(OverlayTest, VeilIsLayeredTranslucentTopmostAndCoversThePrimaryScreen) {
  CTransparentDlg overlay;
  BYTE alpha = 0;
  DWORD flags = 0;
  COLORREF key = 0xFFFFFFFF;
  RECT rect{};
  LONG_PTR exStyle = 0;
  COLORREF fill = 0;
  INT_PTR result = -2;
  WithOverlay([&] { result = overlay.RunModal(); },
              [&](HWND veil) {
                if (!veil) return;
                GetLayeredWindowAttributes(veil, &key, &alpha, &flags);
                GetWindowRect(veil, &rect);
                exStyle = GetWindowLongPtrW(veil, GWL_EXSTYLE);
                WaitUntil([&] { return (fill = PixelAt(veil, 100, 100)) == widgets::kOverlayFill; });
                SendMessageW(veil, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
              });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(alpha, 192);
  EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
  EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(rect.bottom, GetSystemMetrics(SM_CYSCREEN));
  EXPECT_EQ(fill, RGB(10, 10, 10));
}

TEST_F(OverlayTest, RightClickLeavesTheVeilOpenAndALeftClickAnywhereClosesIt) {
  CTransparentDlg overlay;
  overlay.m_items.push_back({HelpRect{200, 200, 400, 220}, L"2. Fill in SSID"});
  bool openAfterRightClick = false;
  INT_PTR result = -2;
  WithOverlay([&] { result = overlay.RunModal(); },
              [&](HWND veil) {
                if (!veil) return;
                SendMessageW(veil, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(210, 210));
                SendMessageW(veil, WM_RBUTTONUP, 0, MAKELPARAM(210, 210));
                openAfterRightClick = IsWindowVisible(veil) != FALSE;
                // A left press on a mark closes it like anywhere else.
                SendMessageW(veil, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(210, 210));
              });
  EXPECT_TRUE(openAfterRightClick);
  EXPECT_EQ(result, 0);
}

TEST_F(OverlayTest, RealMouseClickClosesTheVeil) {
  CTransparentDlg overlay;
  INT_PTR result = -2;
  WithOverlay([&] { result = overlay.RunModal(); },
              [&](HWND veil) {
                if (!veil) return;
                SetCursorPos(640, 400);
                INPUT clicks[2] = {};
                clicks[0].type = clicks[1].type = INPUT_MOUSE;
                clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
                clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
                SendInput(2, clicks, sizeof(INPUT));
                WaitUntil([&] { return !IsWindow(veil); });
              });
  EXPECT_EQ(result, 0);
}

TEST_F(OverlayTest, EscapeEndsTheVeilToo) {
  CTransparentDlg overlay;
  INT_PTR result = 0;
  WithOverlay([&] { result = overlay.RunModal(); },
              [&](HWND veil) {
                if (veil) PostMessageW(veil, WM_KEYDOWN, VK_ESCAPE, 0);
                WaitUntil([&] { return !IsWindow(veil); });
              });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(OverlayTest, MarksShowAStretchedArrowAtTheLeftAndRedTextFiftyPixelsIn) {
  CTransparentDlg overlay;
  const HelpRect mark{300, 300, 500, 320};  // 20 pixels high
  overlay.m_items.push_back({mark, L"Click and wait until restart the device"});
  int arrowRed = 0, textRed = 0, belowArrow = 0, leftOfMark = 0, farRight = 0;
  WithOverlay([&] { overlay.RunModal(); },
              [&](HWND veil) {
                if (!veil) return;
                WaitUntil([&] { return RedPixelsIn(veil, 300, 300, 350, 320) > 0; });
                arrowRed = RedPixelsIn(veil, 300, 300, 350, 320);
                textRed = RedPixelsIn(veil, 350, 300, 700, 324);
                // The arrow stays within 50 x 20 pixels at the mark's corner.
                belowArrow = RedPixelsIn(veil, 300, 326, 350, 360);
                leftOfMark = RedPixelsIn(veil, 260, 300, 299, 320);
                farRight = RedPixelsIn(veil, 800, 300, 900, 324);
                SendMessageW(veil, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
              });
  EXPECT_GT(arrowRed, 20);
  EXPECT_GT(textRed, 20);
  EXPECT_EQ(belowArrow, 0);
  EXPECT_EQ(leftOfMark, 0);
  EXPECT_EQ(farRight, 0);
}

class HelpButtonTest : public testing::Test {
 protected:
  void SetUp() override { test::InitCommonControlsForTests(); }
};

TEST_F(HelpButtonTest, MarksAreTheTargetsClientRectanglesOnScreenWithApplyShifted) {
  ScriptedDialog settings(IDD_SETTINGS);
  settings.RunScript([](ScriptedDialog& d) {
    const std::vector<HelpItem> items = widgets::CollectHelpItems(d.Handle(), L"Auto");
    ASSERT_EQ(items.size(), 4u);
    auto expect = [&](const HelpItem& item, int id, int shift) {
      const RECT want = test::ClientRectOnScreen(d.Item(id));
      EXPECT_EQ(item.rc, (HelpRect{want.left + shift, want.top, want.right + shift, want.bottom})) << id;
    };
    expect(items[0], IDC_MODEL, 0);  // hidden in the template, still marked
    expect(items[1], IDC_WIFI_NAME, 0);
    expect(items[2], IDC_WIFI_PASSWORD, 0);
    RECT apply{};
    GetClientRect(d.Item(IDC_APPLY), &apply);
    expect(items[3], IDC_APPLY, apply.right / 2);
    // The edits' client areas lie inside their borders.
    RECT frame{};
    GetWindowRect(d.Item(IDC_WIFI_NAME), &frame);
    EXPECT_GT(items[1].rc.left, frame.left);
    EXPECT_EQ(items[0].text, L"1. Select device model");
    EXPECT_EQ(widgets::CollectHelpItems(d.Handle(), L"Manual")[0].text, L"1. Enter the URL manually");
  });
}

TEST_F(HelpButtonTest, WindowWithoutTheTargetsGetsNoMarks) {
  ScriptedDialog host(IDD_HOST);
  host.RunScript([](ScriptedDialog& d) { EXPECT_TRUE(widgets::CollectHelpItems(d.Handle(), L"Auto").empty()); });
}

TEST_F(HelpButtonTest, OverlayOverTheSettingsWindowMarksItsFieldsAndLeavesItAsItWas) {
  ScriptedDialog settings(IDD_SETTINGS);
  settings.RunScript([](ScriptedDialog& d) {
    d.SetItemText(IDC_WIFI_NAME, L"TAVI_5G_0042");
    const RECT name = test::ClientRectOnScreen(d.Item(IDC_WIFI_NAME));
    const RECT apply = test::ClientRectOnScreen(d.Item(IDC_APPLY));
    const int applyShift = (apply.right - apply.left) / 2;
    int nameText = 0, applyArrow = 0, applyUnshifted = 0;
    bool settingsStayed = false;
    WithOverlay([&] { widgets::ShowHelpOverlay(d.Handle(), L"Manual"); },
                [&](HWND veil) {
                  if (!veil) return;
                  WaitUntil([&] { return RedPixelsIn(veil, name.left + 50, name.top, name.left + 300, name.bottom) > 0; });
                  nameText = RedPixelsIn(veil, name.left + 50, name.top, name.left + 300, name.bottom);
                  applyArrow = RedPixelsIn(veil, apply.left + applyShift, apply.top, apply.left + applyShift + 50,
                                           apply.bottom);
                  // Left of the shifted mark there is no arrow.
                  applyUnshifted = RedPixelsIn(veil, apply.left, apply.bottom - 6, apply.left + applyShift - 2,
                                               apply.bottom);
                  settingsStayed = IsWindowVisible(d.Handle()) && IsWindowEnabled(d.Handle());
                  SendMessageW(veil, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
                });
    EXPECT_GT(nameText, 10);
    EXPECT_GT(applyArrow, 10);
    EXPECT_EQ(applyUnshifted, 0);
    EXPECT_TRUE(settingsStayed);  // not disabled underneath
    EXPECT_TRUE(IsWindow(d.Handle()));
    EXPECT_EQ(d.ItemText(IDC_WIFI_NAME), L"TAVI_5G_0042");
    EXPECT_EQ(test::ClientRectOnScreen(d.Item(IDC_WIFI_NAME)).left, name.left);
  });
}

}  // namespace
}  // namespace nerova
