// The settings window at 150 % scaling (144 dots per inch, set in a prefix
// of its own): every label shows its whole text.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_stack.h"
#include "tests/settings/win/dialog_runner.h"
#include "tests/ui/win_test_support.h"

namespace nerova::settings::win {
namespace {

using testing::DialogRunner;
using testing::WaitFor;

struct Label {
  HWND window;
  std::wstring text;
};

// The visible text labels of the window: statics holding text, without a
// frame (the framed ones show values, not labels).
std::vector<Label> VisibleLabels(HWND dialog) {
  std::vector<Label> labels;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    const LONG_PTR kind = style & SS_TYPEMASK;
    if (lstrcmpiW(className, L"Static") != 0 || !IsWindowVisible(child) || (style & SS_SUNKEN)) continue;
    if (kind != SS_LEFT && kind != SS_LEFTNOWORDWRAP && kind != SS_CENTER && kind != SS_RIGHT) continue;
    wchar_t text[128] = {};
    if (GetWindowTextW(child, text, 128) > 0) labels.push_back({child, text});
  }
  return labels;
}

int TextWidth(HWND label, const std::wstring& text) {
  HDC dc = GetDC(label);
  const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
  RECT bounds{0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, previous);
  ReleaseDC(label, dc);
  return bounds.right - bounds.left;
}

TEST(SettingsWindowAt150Percent, EveryLabelShowsItsWholeText) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  ASSERT_EQ(dpi, 144);
  test::InitCommonControlsForTests();

  sim::SimStack stack;
  stack.AddReceiver();
  DialogRunner window(stack);
  ASSERT_TRUE(window.Started());
  ASSERT_TRUE(WaitFor([&] { return window.Idle([](COrlenkDlg&) { return true; }); }));
  const std::vector<Label> labels = VisibleLabels(window.Window());
  ASSERT_GE(labels.size(), 5u);
  bool sawFirmware = false;
  for (const Label& label : labels) {
    RECT client{};
    GetClientRect(label.window, &client);
    EXPECT_LE(TextWidth(label.window, label.text), client.right) << std::string(label.text.begin(), label.text.end());
    sawFirmware = sawFirmware || label.text == L"Firmware Ver:";
  }
  EXPECT_TRUE(sawFirmware);
}

}  // namespace
}  // namespace nerova::settings::win
