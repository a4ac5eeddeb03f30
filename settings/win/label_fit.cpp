#include "settings/win/label_fit.h"

#include <algorithm>
#include <string>

#include "ui/handles.h"

namespace nerova::settings::win {
namespace {

bool IsPlainTextLabel(HWND control) {
  wchar_t className[16] = {};
  if (!GetClassNameW(control, className, 16) || lstrcmpiW(className, L"Static") != 0) return false;
  const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  const LONG_PTR kind = style & SS_TYPEMASK;
  if (kind != SS_LEFT && kind != SS_LEFTNOWORDWRAP && kind != SS_CENTER && kind != SS_RIGHT) return false;
  if (style & (WS_BORDER | SS_SUNKEN)) return false;
  return (GetWindowLongPtrW(control, GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) == 0;
}

int TextWidth(HWND control, const std::wstring& text) {
  ui::WindowDc dc(control);
  if (!dc.Get()) return 0;
  const HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  ui::SelectScope select(dc.Get(), font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
  RECT bounds{0, 0, 0, 0};
  // An access key's "&" is not drawn, unless the label shows it as written.
  const UINT prefix = (GetWindowLongPtrW(control, GWL_STYLE) & SS_NOPREFIX) ? DT_NOPREFIX : 0;
  DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &bounds, DT_CALCRECT | DT_SINGLELINE | prefix);
  return bounds.right - bounds.left;
}

void FitLabel(HWND dialog, HWND control) {
  const int length = GetWindowTextLengthW(control);
  if (length <= 0) return;
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), length + 1)));
  RECT client{};
  GetClientRect(control, &client);
  const int shortfall = TextWidth(control, text) + 1 - (client.right - client.left);
  if (shortfall <= 0) return;

  RECT frame{};
  GetWindowRect(control, &frame);
  MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&frame), 2);
  const LONG_PTR kind = GetWindowLongPtrW(control, GWL_STYLE) & SS_TYPEMASK;
  int left = frame.left;
  int right = frame.right;
  if (kind == SS_CENTER) {
    left -= shortfall / 2;
    right += shortfall - shortfall / 2;
  } else {
    left -= shortfall;
  }
  if (left < 0) {
    right -= left;
    left = 0;
  }
  SetWindowPos(control, nullptr, left, frame.top, right - left, frame.bottom - frame.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CALLBACK FitChild(HWND child, LPARAM dialog) {
  if (GetParent(child) == reinterpret_cast<HWND>(dialog) && IsPlainTextLabel(child)) {
    FitLabel(reinterpret_cast<HWND>(dialog), child);
  }
  return TRUE;
}

}  // namespace

void FitLabelsToText(HWND dialog) { EnumChildWindows(dialog, FitChild, reinterpret_cast<LPARAM>(dialog)); }

}  // namespace nerova::settings::win
