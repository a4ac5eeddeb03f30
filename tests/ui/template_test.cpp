// The dialog templates, icon, version record and manifest as they land in an
// executable that links the resources.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nerova_version.h"
#include "resources/resource_ids.h"
#include "tests/ui/win_test_support.h"
#include "ui/message_box.h"

namespace nerova {
namespace {

using test::ClassName;
using test::ScriptedDialog;
using test::WindowText;

enum Kind { kLabel, kUnwrappedLabel, kRightLabel, kCentredBorderedLabel, kBlackFrame, kEdit, kCombo, kButton, kCheckBox, kTrackbar };

struct ExpectedControl {
  int id;
  Kind kind;
  const wchar_t* text;
  int x, y, width, height;
  bool visible;
};

// The settings window's controls in creation (tab) order.
const std::vector<ExpectedControl> kSettingsControls = {
    {IDC_FW_UPDATE, kButton, L"&FW Update", 262, 7, 51, 14, true},
    {IDC_HELP_BUTTON, kButton, L"&?", 317, 7, 15, 14, true},
    {-1, kLabel, L"&Setting Mode:", 3, 29, 105, 8, true},
    {IDC_MODE, kCombo, L"", 111, 27, 48, 65, true},
    {IDC_REFRESH, kButton, L"&Refresh", 242, 25, 62, 14, true},
    {IDC_URL_LABEL, kRightLabel, L"&Url:", 8, 48, 100, 8, true},
    {IDC_URL, kEdit, L"", 111, 46, 146, 12, true},
    {IDC_SET_URL, kButton, L"Set", 262, 46, 50, 14, false},
    {IDC_MODEL_LABEL, kRightLabel, L"Camera &Model:", 3, 48, 105, 8, true},
    {IDC_MODEL, kCombo, L"", 111, 45, 91, 65, false},
    {-1, kLabel, L"Camera Wi-Fi &Name(SSID):", 3, 67, 105, 8, true},
    {IDC_WIFI_NAME, kEdit, L"", 111, 65, 146, 12, true},
    {IDC_SET_WIFI_NAME, kButton, L"Set", 262, 65, 50, 14, false},
    {-1, kLabel, L"Wi-Fi &Password:", 3, 86, 105, 8, true},
    {IDC_WIFI_PASSWORD, kEdit, L"", 111, 85, 146, 12, true},
    {IDC_SET_PASSWORD, kButton, L"Set", 262, 84, 50, 14, false},
    {IDC_STATUS, kLabel, L"", 3, 104, 330, 9, true},
    {IDC_LONG_PRESS_LABEL, kLabel, L"Long Press Time:", 3, 105, 105, 8, true},
    {IDC_LONG_PRESS_SLIDER, kTrackbar, L"", 107, 102, 100, 15, true},
    {IDC_LONG_PRESS_TEXT, kEdit, L"", 214, 102, 40, 14, true},
    {IDC_SET_LONG_PRESS, kButton, L"Set", 262, 102, 50, 14, false},
    {IDC_AGING_TEST_LABEL, kLabel, L"Aging Test:", 3, 121, 105, 8, true},
    {IDC_AGING_TEST, kCheckBox, L"Enable", 111, 120, 37, 10, true},
    {IDC_APPLY, kButton, L"&Apply", 168, 118, 62, 14, true},
    {IDC_EXIT, kButton, L"E&xit", 242, 118, 62, 14, true},
    // Left-aligned without word wrap: at 9 points the text just fills its 44
    // units, and a wrap would leave only "Firmware" in sight.
    {-1, kUnwrappedLabel, L"Firmware Ver:", 169, 10, 44, 8, true},
    {IDC_FIRMWARE_VERSION, kCentredBorderedLabel, L"", 217, 8, 44, 11, true},
    {IDC_RSSI_LABEL, kRightLabel, L"RSSI:", 79, 10, 52, 8, true},
    {IDC_RSSI_NUMBER, kCentredBorderedLabel, L"", 132, 9, 30, 11, true},
    {IDC_SIGNAL_PICTURE, kBlackFrame, L"", 138, 5, 19, 19, true},
    {IDC_LOGO_FRAME, kBlackFrame, L"", 255, 132, 49, 17, true},
    {IDOK, kButton, L"\u786E\u5B9A", 209, 140, 50, 14, false},
    {IDCANCEL, kButton, L"\u53D6\u6D88", 282, 140, 50, 14, false},
    {IDC_SET_CUR, kButton, L"SET_CUR", 0, 0, 50, 14, false},
    {IDC_GET_CUR, kButton, L"GET_CUR", 57, 0, 50, 14, false},
    {IDC_RESOLUTION_LABEL, kLabel, L"Resolution:", 37, 146, 41, 8, false},
    {IDC_RES_WIDTH, kLabel, L"0", 74, 146, 10, 8, false},
    {IDC_RES_X, kLabel, L"x", 89, 146, 8, 8, false},
    {IDC_RES_HEIGHT, kLabel, L"0", 97, 146, 26, 8, false},
    {IDC_UNUSED_EDIT_1, kEdit, L"", 78, 146, 47, 16, false},
    {IDC_UNUSED_EDIT_2, kEdit, L"", 141, 146, 47, 16, false},
    {IDC_SET_RESOLUTION, kButton, L"Set", 202, 140, 50, 14, false},
    {-1, kLabel, L"*", 129, 154, 8, 8, false},
    {-1, kLabel, L"Fps:", 0, 145, 14, 8, false},
    {IDC_FPS, kEdit, L"", 26, 146, 46, 16, false},
    {-1, kLabel, L"Codec:", 44, 146, 23, 8, false},
    {IDC_CODEC, kCombo, L"", 88, 142, 48, 65, false},
    {IDC_RESOLUTION_PRESET, kCombo, L"", 143, 142, 48, 65, false},
};

const wchar_t* ClassOf(Kind kind) {
  switch (kind) {
    case kEdit:
      return L"Edit";
    case kCombo:
      return L"ComboBox";
    case kButton:
    case kCheckBox:
      return L"Button";
    case kTrackbar:
      return L"msctls_trackbar32";
    default:
      return L"Static";
  }
}

std::vector<HWND> Children(HWND dialog) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  return children;
}

// The dialog manager maps the position and the size each on its own.
RECT DialogUnits(HWND dialog, int x, int y, int width, int height) {
  RECT position{x, y, width, height};
  MapDialogRect(dialog, &position);
  return RECT{position.left, position.top, position.left + position.right, position.top + position.bottom};
}

RECT RectInParent(HWND control) {
  RECT rc{};
  GetWindowRect(control, &rc);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

void ExpectKindStyles(HWND control, const ExpectedControl& expected) {
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_EXSTYLE));
  const DWORD staticType = style & SS_TYPEMASK;
  switch (expected.kind) {
    case kLabel:
      EXPECT_EQ(staticType, static_cast<DWORD>(SS_LEFT));
      break;
    case kUnwrappedLabel:
      EXPECT_EQ(staticType, static_cast<DWORD>(SS_LEFTNOWORDWRAP));
      break;
    case kRightLabel:
      EXPECT_EQ(staticType, static_cast<DWORD>(SS_RIGHT));
      break;
    case kCentredBorderedLabel:
      EXPECT_EQ(staticType, static_cast<DWORD>(SS_CENTER));
      EXPECT_TRUE((style & (WS_BORDER | SS_SUNKEN)) || (exStyle & WS_EX_STATICEDGE));
      break;
    case kBlackFrame:
      EXPECT_EQ(staticType, static_cast<DWORD>(SS_BLACKFRAME));
      break;
    case kEdit:
      EXPECT_FALSE(style & ES_PASSWORD);
      EXPECT_FALSE(style & ES_MULTILINE);
      break;
    case kCombo:
      EXPECT_EQ(style & 0x3, static_cast<DWORD>(CBS_DROPDOWNLIST));
      break;
    case kButton:
      EXPECT_EQ(style & BS_TYPEMASK,
                static_cast<DWORD>(expected.id == IDOK ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON));
      break;
    case kCheckBox:
      EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_AUTOCHECKBOX));
      break;
    case kTrackbar:
      EXPECT_EQ(style & (TBS_NOTICKS | TBS_NOTIFYBEFOREMOVE | TBS_VERT),
                static_cast<DWORD>(TBS_NOTICKS | TBS_NOTIFYBEFOREMOVE));
      break;
  }
}

class TemplateTest : public testing::Test {
 protected:
  void SetUp() override { test::InitCommonControlsForTests(); }
};

TEST_F(TemplateTest, SettingsWindowHasEveryControlInOrderWithItsTextPlaceAndVisibility) {
  ScriptedDialog dialog(IDD_SETTINGS);
  const INT_PTR result = dialog.RunScript([](ScriptedDialog& d) {
    const std::vector<HWND> children = Children(d.Handle());
    ASSERT_EQ(children.size(), kSettingsControls.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
      const ExpectedControl& expected = kSettingsControls[i];
      HWND control = children[i];
      SCOPED_TRACE(testing::Message() << "control #" << i << " id " << expected.id);
      EXPECT_EQ(GetDlgCtrlID(control), expected.id);
      EXPECT_EQ(ClassName(control), ClassOf(expected.kind));
      if (expected.kind != kCombo) {
        EXPECT_EQ(WindowText(control), expected.text);
      }
      EXPECT_EQ((GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0, expected.visible);
      ExpectKindStyles(control, expected);

      const RECT want = DialogUnits(d.Handle(), expected.x, expected.y, expected.width, expected.height);
      const RECT got = RectInParent(control);
      EXPECT_EQ(got.left, want.left);
      EXPECT_EQ(got.top, want.top);
      EXPECT_EQ(got.right, want.right);
      // A combo box's window is its closed height; 65 units is its list.
      if (expected.kind != kCombo) {
        EXPECT_EQ(got.bottom, want.bottom);
      }
    }
  });
  EXPECT_EQ(result, ScriptedDialog::kScriptEnded);
}

TEST_F(TemplateTest, SettingsWindowFrameCaptionFontAndSpecialStyles) {
  ScriptedDialog dialog(IDD_SETTINGS);
  dialog.RunScript([](ScriptedDialog& d) {
    HWND window = d.Handle();
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU));
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
    EXPECT_EQ(WindowText(window), L"Nerova Wireless Receiver Setting");

    RECT client{};
    GetClientRect(window, &client);
    const RECT want = DialogUnits(window, 0, 0, 339, 163);
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);

    // "MS Shell Dlg" at 9 points.
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    ASSERT_TRUE(font);
    LOGFONTW logFont{};
    GetObjectW(font, sizeof(logFont), &logFont);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(logFont.lfHeight, -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);

    const auto rssiStyle = GetWindowLongPtrW(d.Item(IDC_RSSI_LABEL), GWL_STYLE);
    EXPECT_TRUE(rssiStyle & SS_NOTIFY);
    EXPECT_TRUE(GetWindowLongPtrW(d.Item(IDC_SIGNAL_PICTURE), GWL_STYLE) & SS_CENTERIMAGE);
    EXPECT_TRUE(GetWindowLongPtrW(d.Item(IDC_LONG_PRESS_TEXT), GWL_STYLE) & ES_READONLY);
    EXPECT_TRUE(GetWindowLongPtrW(d.Item(IDC_CODEC), GWL_STYLE) & CBS_SORT);
    EXPECT_FALSE(GetWindowLongPtrW(d.Item(IDC_MODE), GWL_STYLE) & CBS_SORT);
    EXPECT_EQ(SendMessageW(window, DM_GETDEFID, 0, 0), MAKELRESULT(IDOK, DC_HASDEFID));
  });
}

TEST_F(TemplateTest, HelpOverlayTemplateIsABarePopup) {
  ScriptedDialog dialog(IDD_HELP_OVERLAY);
  dialog.RunScript([](ScriptedDialog& d) {
    HWND window = d.Handle();
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_EQ(style & WS_CAPTION, 0u);
    EXPECT_EQ(style & (WS_BORDER | WS_THICKFRAME | DS_MODALFRAME), 0u);
    EXPECT_TRUE(Children(window).empty());
    RECT frame{}, client{};
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    // No border: the window is its client area.
    EXPECT_EQ(frame.right - frame.left, client.right);
    EXPECT_EQ(frame.bottom - frame.top, client.bottom);
    const RECT want = DialogUnits(window, 0, 0, 320, 200);
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);
  });
}

TEST_F(TemplateTest, HostTemplateIsACaptionedPopupWithoutControls) {
  ScriptedDialog dialog(IDD_HOST);
  dialog.RunScript([](ScriptedDialog& d) {
    HWND window = d.Handle();
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(WindowText(window), L"Dialog");
    EXPECT_TRUE(Children(window).empty());
    RECT client{};
    GetClientRect(window, &client);
    const RECT want = DialogUnits(window, 0, 0, 309, 176);
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);
  });
}

TEST_F(TemplateTest, ApplicationIconComesInEverySize) {
  for (int size : {16, 24, 32, 48, 256}) {
    HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                               size, size, LR_DEFAULTCOLOR));
    ASSERT_TRUE(icon) << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info)) << size;
    BITMAP colour{};
    GetObjectW(info.hbmColor, sizeof(colour), &colour);
    EXPECT_EQ(colour.bmWidth, size);
    EXPECT_EQ(colour.bmHeight, size);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  // The icon group itself lists the five sizes.
  HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(IDI_APP), RT_GROUP_ICON);
  ASSERT_TRUE(group);
  const auto* header = static_cast<const WORD*>(LockResource(LoadResource(nullptr, group)));
  EXPECT_EQ(header[2], 5);
}

std::wstring VersionString(const std::vector<BYTE>& data, const wchar_t* name) {
  std::wstring path = L"\\StringFileInfo\\040904b0\\";
  path += name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), path.c_str(), &value, &length) || !value) return {};
  return static_cast<const wchar_t*>(value);
}

// The version texts are plain ASCII.
std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii)); }

TEST_F(TemplateTest, VersionRecordNamesTheProductAndVersion) {
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, data.data()));
  EXPECT_EQ(VersionString(data, L"ProductName"), std::wstring(ui::kApplicationName));
  EXPECT_EQ(VersionString(data, L"ProductVersion"), Wide(NEROVA_PRODUCT_VERSION_TEXT));
  EXPECT_EQ(VersionString(data, L"FileVersion"), Wide(NEROVA_FILE_VERSION_TEXT));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  const DWORD major_minor = MAKELONG(NEROVA_VERSION_MINOR, NEROVA_VERSION_MAJOR);
  const DWORD patch_build = MAKELONG(0, NEROVA_VERSION_PATCH);
  EXPECT_EQ(fixed->dwProductVersionMS, major_minor);
  EXPECT_EQ(fixed->dwProductVersionLS, patch_build);
  EXPECT_EQ(fixed->dwFileVersionMS, major_minor);
  EXPECT_EQ(fixed->dwFileVersionLS, patch_build);
}

TEST_F(TemplateTest, ManifestAsksForCommonControlsSixInvokerAndPerMonitorDpi) {
  HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_TRUE(info);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, info)));
  const std::string manifest(bytes, SizeofResource(nullptr, info));
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2"), std::string::npos);
}

TEST_F(TemplateTest, PicturesArePngResourcesOfTheProgram) {
  for (int id : {IDB_LOGO, IDB_SIGNAL_EXCELLENT, IDB_SIGNAL_GOOD, IDB_SIGNAL_FAIR, IDB_SIGNAL_WEAK, IDB_SIGNAL_NONE,
                 IDB_HELP_ARROW}) {
    HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(id), L"PNG");
    ASSERT_TRUE(info) << id;
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, info)));
    ASSERT_GT(SizeofResource(nullptr, info), 8u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes) + 1, 3), "PNG") << id;
  }
}

}  // namespace
}  // namespace nerova
