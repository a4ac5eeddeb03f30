#include "ui/dialog.h"

#include <vector>

#include "ui/data_exchange.h"
#include "ui/escaped_exception.h"
#include "ui/thread_stop.h"

namespace nerova::ui {

bool PostEndModal(HWND dialog, INT_PTR result) {
  return PostMessageW(dialog, kMsgEndModal, static_cast<WPARAM>(result), 0) != FALSE;
}

HINSTANCE ResourceModule() { return GetModuleHandleW(nullptr); }

Dialog::~Dialog() {
  // A dialog object destroyed while its window still exists (its thread was
  // torn down) must not be reached through DWLP_USER any more.
  HWND window = m_hwnd.load();
  if (window && IsWindow(window)) SetWindowLongPtrW(window, DWLP_USER, 0);
}

INT_PTR Dialog::RunModal(HWND owner) {
  return DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(m_templateId), owner, &Dialog::Procedure,
                         reinterpret_cast<LPARAM>(this));
}

void Dialog::EndModal(INT_PTR result) {
  if (HWND window = Handle()) EndDialog(window, result);
}

HWND Dialog::Item(int id) const {
  HWND window = Handle();
  return window ? GetDlgItem(window, id) : nullptr;
}

void Dialog::ShowItem(int id, bool show) const {
  if (HWND item = Item(id)) ShowWindow(item, show ? SW_SHOW : SW_HIDE);
}

void Dialog::EnableItem(int id, bool enable) const {
  if (HWND item = Item(id)) EnableWindow(item, enable ? TRUE : FALSE);
}

std::wstring Dialog::ItemText(int id) const {
  HWND item = Item(id);
  if (!item) return {};
  const int length = GetWindowTextLengthW(item);
  if (length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  const int copied = GetWindowTextW(item, buffer.data(), static_cast<int>(buffer.size()));
  return std::wstring(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

void Dialog::SetItemText(int id, const std::wstring& text) const {
  if (HWND item = Item(id)) SetWindowTextW(item, text.c_str());
}

void Dialog::AddComboItems(int id, std::span<const wchar_t* const> items) const {
  HWND combo = Item(id);
  if (!combo) return;
  for (const wchar_t* item : items) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
}

void Dialog::TransferToControls() {
  DataExchange exchange(*this, DataExchange::Direction::kToControls);
  DoDataExchange(exchange);
}

bool Dialog::TransferToMembers() {
  DataExchange exchange(*this, DataExchange::Direction::kToMembers);
  DoDataExchange(exchange);
  return !exchange.Failed();
}

bool Dialog::OnInitDialog() {
  TransferToControls();
  return true;
}

void Dialog::DoDataExchange(DataExchange&) {}

void Dialog::OnCommand(int id, int, HWND) {
  if (id == IDOK) {
    OnOk();
  } else if (id == IDCANCEL) {
    OnCancel();
  }
}

void Dialog::OnOk() {
  if (TransferToMembers()) EndModal(IDOK);
}

void Dialog::OnCancel() { EndModal(IDCANCEL); }

std::optional<LRESULT> Dialog::OnNotify(const NMHDR&) { return std::nullopt; }
bool Dialog::OnTimer(UINT_PTR) { return false; }
bool Dialog::OnPaint() { return false; }
std::optional<LRESULT> Dialog::OnEraseBackground(HDC) { return std::nullopt; }
bool Dialog::OnHScroll(int, int, HWND) { return false; }
void Dialog::OnLButtonDown(UINT, POINT) {}
HICON Dialog::OnQueryDragIcon() { return nullptr; }
std::optional<LRESULT> Dialog::OnDeviceChange(WPARAM, LPARAM) { return std::nullopt; }
std::optional<LRESULT> Dialog::OnPrivateMessage(UINT, WPARAM, LPARAM) { return std::nullopt; }
void Dialog::OnDestroy() {}

INT_PTR Dialog::Answer(LRESULT result) const {
  SetWindowLongPtrW(Handle(), DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->m_hwnd = window;
  } else {
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
  }
  if (!self) return FALSE;  // before WM_INITDIALOG, or after the object let go

  // A dialog of a thread that has been told to stop ends as soon as its
  // thread looks at it again, whatever loop the thread is in and whatever
  // became of the WM_QUIT that was posted to it.
  if (!self->m_bEndedForStop && ThreadStopRequested()) {
    self->m_bEndedForStop = true;
    ShowWindow(window, SW_HIDE);
    EndDialog(window, -1);
  }
  INT_PTR answer = FALSE;
  try {
    answer = self->Route(message, wParam, lParam);
  } catch (...) {
    // A handler that throws has failed; the message gets its default
    // handling.
    ReportEscapedException("a window handler");
    answer = FALSE;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    self->m_hwnd = nullptr;
  }
  return answer;
}

INT_PTR Dialog::Route(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_NOTIFY:
      if (auto result = OnNotify(*reinterpret_cast<const NMHDR*>(lParam))) return Answer(*result);
      return FALSE;
    case WM_TIMER:
      return OnTimer(static_cast<UINT_PTR>(wParam)) ? TRUE : FALSE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_ERASEBKGND:
      if (auto result = OnEraseBackground(reinterpret_cast<HDC>(wParam))) return Answer(*result);
      return FALSE;
    case WM_HSCROLL:
      return OnHScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    case WM_LBUTTONDOWN:
      OnLButtonDown(static_cast<UINT>(wParam),
                    POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      return FALSE;
    case WM_QUERYDRAGICON:
      // One of the few messages whose result is the procedure's return value.
      return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_DEVICECHANGE:
      if (auto result = OnDeviceChange(wParam, lParam)) return Answer(*result);
      return FALSE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case kMsgEndModal:
      EndDialog(Handle(), static_cast<INT_PTR>(wParam));
      return TRUE;
    default:
      break;
  }
  // WM_USER .. WM_USER + 2 are the dialog manager's own (DM_GETDEFID,
  // DM_SETDEFID, DM_REPOSITION).
  if (message >= WM_USER + 3) {
    if (auto result = OnPrivateMessage(message, wParam, lParam)) return Answer(*result);
  }
  return FALSE;
}

}  // namespace nerova::ui
